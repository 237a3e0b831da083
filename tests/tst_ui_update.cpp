#include "app/settingsstore.h"
#include "englishtexts.h"
#include "integration/updatefeed.h"
#include "integration/updatemanager.h"
#include "layoutcheck.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "screenshots.h"
#include "testenv.h"
#include "testhttpserver.h"
#include "widgettexts.h"
#include "ui/aboutsettingstab.h"
#include "ui/updatesheet.h"
#include "ui/updatetexts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>
#include <optional>

using namespace std::chrono_literals;
using Delivery = TestHttpServer::Delivery;
using Kind = UpdateStatus::Kind;
using WidgetTexts::visibleTexts;

namespace {

QByteArray versionFeed(const QString &version, QJsonObject fields = {})
{
    fields.insert(QStringLiteral("version"), version);
    return QJsonDocument(fields).toJson();
}

QPushButton *button(const QWidget *widget, const QString &text)
{
    for (QPushButton *candidate : widget->findChildren<QPushButton *>()) {
        if (candidate->text() == text && candidate->isVisibleTo(widget))
            return candidate;
    }
    return nullptr;
}

} // namespace

// The update sheet and the About page through every state of the update manager, driven by a
// feed and downloads on a local server.
class TestUiUpdate final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<UpdateManager> m_updates;
    std::unique_ptr<QWidget> m_mainWindow;
    std::optional<EnglishTexts> m_english;
    UpdateSheet *m_sheet = nullptr;
    AboutSettingsTab *m_about = nullptr;
    QList<QUrl> m_opened;
    QList<QUrl> m_revealed;

    QString feed() const { return m_server->url(QStringLiteral("/feed")).toString(); }

    void useFeed(const QByteArray &body, int status = 200, Delivery delivery = Delivery::complete)
    {
        m_server->setResponse("/feed", {status, body, delivery});
    }

    void checkFromAbout(Kind until)
    {
        QPushButton *check = button(m_about, QStringLiteral("立即检查更新"));
        QVERIFY(check && check->isEnabled());
        QTest::mouseClick(check, Qt::LeftButton);
        QTRY_COMPARE(m_updates->status().kind, until);
    }

    // What both views show in the current state, and a picture of the sheet.
    void verifyViews(const char *screen, const QStringList &sheetButtons, const QString &aboutLine, const QString &checkLabel,
                     bool checkEnabled)
    {
        QApplication::processEvents();
        QCOMPARE(visibleTexts<QPushButton>(m_sheet), QStringList{QStringLiteral("在浏览器中打开")} + sheetButtons);
        QVERIFY2(visibleTexts<QLabel>(m_about).contains(aboutLine), qPrintable(visibleTexts<QLabel>(m_about).join(u'|')));
        QPushButton *check = button(m_about, checkLabel);
        QVERIFY2(check, qPrintable(visibleTexts<QPushButton>(m_about).join(u'|')));
        QCOMPARE(check->isEnabled(), checkEnabled);
        picture(screen);
    }

    // Pictures of both views (English ones under en/), once nothing in them is cut off.
    void picture(const char *screen)
    {
        for (const QWidget *view : {static_cast<QWidget *>(m_sheet), static_cast<QWidget *>(m_about)}) {
            const QStringList clipped = LayoutCheck::clippedTexts(view);
            QVERIFY2(clipped.isEmpty(), qPrintable(QLatin1String(screen) + QStringLiteral(": ") + clipped.join(QStringLiteral("; "))));
        }
        Screenshots::save(m_sheet, EnglishTexts::screensFolder() + QStringLiteral("update-sheet-") + QLatin1String(screen));
        Screenshots::save(m_about, EnglishTexts::screensFolder() + QStringLiteral("update-about-") + QLatin1String(screen));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
    }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        Preferences().remove(SettingsStore::settingsKey);
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        m_settings = std::make_unique<SettingsStore>(HardwareInfo());
        AppSettings settings = m_settings->settings();
        settings.customUpdateFeedURL = feed();
        m_settings->setSettings(settings);
        const QString host = m_server->url({}).toString();
        m_updates = std::make_unique<UpdateManager>(UpdateEndpoints::fromHosts(host, host, host, QStringLiteral("https://h/site/")), 500ms);
        m_opened.clear();
        m_revealed.clear();
        m_updates->setOpener([this](const QUrl &url) { m_opened.append(url); return true; });
        m_updates->setRevealer([this](const QUrl &url) { m_revealed.append(url); });
        m_mainWindow = std::make_unique<QWidget>();
        m_mainWindow->resize(800, 600);
        m_mainWindow->show();
        m_sheet = new UpdateSheet(m_updates.get(), m_mainWindow.get());
        m_sheet->open();
        m_about = new AboutSettingsTab(m_settings.get(), m_updates.get());
        m_about->resize(500, 380);
        m_about->show();
    }

    void cleanup()
    {
        delete m_about;
        m_mainWindow.reset();
        m_updates.reset();
        m_settings.reset();
        m_server.reset();
        m_english.reset(); // after the widgets that show its texts
    }

    void wholePercent_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("percent");
        QTest::newRow("99.9 % truncates") << 0.999 << 99;
        QTest::newRow("42.99 %") << 0.4299 << 42;
        QTest::newRow("done") << 1.0 << 100;
        QTest::newRow("start") << 0.0 << 0;
        QTest::newRow("below zero") << -0.2 << 0;
        QTest::newRow("beyond one") << 1.7 << 100;
        QTest::newRow("not a number") << std::nan("") << 0;
    }

    void wholePercent()
    {
        QFETCH(double, progress);
        QTEST(UpdateTexts::wholePercent(progress), "percent");
    }

    // From nothing to a downloaded package, each state in the sheet and on the About page.
    void throughADownload()
    {
        QVERIFY(m_sheet->windowModality() == Qt::WindowModal && m_sheet->isVisible());
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("发现新版本")));
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(
            QStringLiteral("当前版本: v%1 · 建议更新以获得最佳体验").arg(UpdateManager::currentAppVersion())));
        QCOMPARE(m_sheet->findChild<QPlainTextEdit *>()->toPlainText(), QStringLiteral("修复若干已知问题，优化转码性能与稳定性。"));
        QVERIFY(!visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("v99.0")));
        verifyViews("idle", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")}, QStringLiteral("尚未检查更新"),
                    QStringLiteral("立即检查更新"), true);
        QTest::mouseClick(button(m_sheet, QStringLiteral("立即更新并下载")), Qt::LeftButton); // no release: nothing happens
        QCOMPARE(m_updates->status().kind, Kind::idle);
        QVERIFY(m_opened.isEmpty());

        useFeed("{}", 200, Delivery::stallHalfway);
        QTest::mouseClick(button(m_about, QStringLiteral("立即检查更新")), Qt::LeftButton);
        QCOMPARE(m_updates->status().kind, Kind::checking);
        verifyViews("checking", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")},
                    QStringLiteral("正在连接 GitLab 检查更新…"), QStringLiteral("检查中…"), false);
        QTRY_COMPARE(m_updates->status().kind, Kind::failed);
        verifyViews("failed", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")},
                    QStringLiteral("连接超时，服务器长时间没有响应"), QStringLiteral("立即检查更新"), true);
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("连接超时，服务器长时间没有响应")));

        useFeed(versionFeed(UpdateManager::currentAppVersion()));
        checkFromAbout(Kind::upToDate);
        verifyViews("up-to-date", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")},
                    QStringLiteral("当前已是最新版本 (v%1)").arg(UpdateManager::currentAppVersion()), QStringLiteral("立即检查更新"), true);

        // Release notes are plain text: markup shows as typed.
        const QString notes = QStringLiteral("<b>更快</b> & <a href=\"x\">链接</a>\n第二行");
        useFeed(versionFeed(QStringLiteral("99.0"),
                            {{QStringLiteral("releaseNotes"), notes},
                             {QStringLiteral("htmlUrl"), QStringLiteral("https://h/release")},
                             {QStringLiteral("downloadUrl"), m_server->url(QStringLiteral("/pikora_99.0.deb")).toString()}}));
        checkFromAbout(Kind::available);
        QCOMPARE(m_sheet->findChild<QPlainTextEdit *>()->toPlainText(), notes);
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("v99.0")));
        verifyViews("available", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")}, QStringLiteral("发现新版本 v99.0"),
                    QStringLiteral("立即检查更新"), true);
        QTest::mouseClick(button(m_sheet, QStringLiteral("在浏览器中打开")), Qt::LeftButton);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://h/release"))});

        m_server->setResponse("/pikora_99.0.deb", {200, QByteArray(100'000, 'd'), Delivery::stallHalfway});
        QTest::mouseClick(button(m_sheet, QStringLiteral("立即更新并下载")), Qt::LeftButton);
        QTRY_VERIFY(m_updates->status().kind == Kind::downloading && m_updates->status().receivedBytes == 50'000);
        verifyViews("downloading", {QStringLiteral("取消下载")}, QStringLiteral("下载中 50%…"), QStringLiteral("立即检查更新"), false);
        for (const QLabel *label : m_about->findChildren<QLabel *>()) { // the accent of "available" does not linger
            if (label->text() == QStringLiteral("下载中 50%…"))
                QCOMPARE(label->palette().color(QPalette::WindowText), m_about->palette().color(QPalette::WindowText));
        }
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("正在下载更新包… 50%")));
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(formattedBytes(50'000) + QStringLiteral(" / ") + formattedBytes(100'000)));
        QTest::mouseClick(button(m_sheet, QStringLiteral("取消下载")), Qt::LeftButton);
        QCOMPARE(m_updates->status().kind, Kind::available);

        m_server->setResponse("/pikora_99.0.deb", {200, "package", Delivery::withoutLength});
        QTest::mouseClick(button(m_sheet, QStringLiteral("立即更新并下载")), Qt::LeftButton);
        QTRY_COMPARE(m_updates->status().kind, Kind::readyToInstall);
        const QUrl saved = m_updates->status().fileURL;
        QCOMPARE(saved.fileName(), QStringLiteral("Pikora-v99.0.deb"));
        QCOMPARE(m_revealed, QList<QUrl>{saved}); // shown in the file manager, never opened
        verifyViews("ready", {QStringLiteral("在文件管理器中显示"), QStringLiteral("完成")}, QStringLiteral("安装包已下载到「下载」文件夹"),
                    QStringLiteral("立即检查更新"), true);
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("用软件安装器打开它，或在它所在的文件夹中运行 sudo apt install ./Pikora-v99.0.deb 完成升级。")));
        QTest::mouseClick(button(m_sheet, QStringLiteral("在文件管理器中显示")), Qt::LeftButton);
        QCOMPARE(m_revealed, (QList<QUrl>{saved, saved}));
        QCOMPARE(m_opened.size(), 1);

        QTest::mouseClick(button(m_sheet, QStringLiteral("完成")), Qt::LeftButton);
        QVERIFY(!m_sheet->isVisible());
    }

    // A release with no package for this machine: the download button opens its page and the sheet stays.
    void releaseWithoutPackage()
    {
        useFeed(versionFeed(QStringLiteral("99.1"),
                            {{QStringLiteral("htmlUrl"), QStringLiteral("https://h/r")},
                             {QStringLiteral("platforms"), QJsonObject{{QStringLiteral("darwin-arm64"),
                                                                        QJsonObject{{QStringLiteral("url"), QStringLiteral("https://h/P.dmg")}}}}}}));
        checkFromAbout(Kind::available);
        QVERIFY(!m_updates->currentUpdateInfo()->downloadURL);
        QVERIFY(!button(m_sheet, QStringLiteral("立即更新并下载"))->toolTip().isEmpty());
        QTest::mouseClick(button(m_sheet, QStringLiteral("立即更新并下载")), Qt::LeftButton);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://h/r"))});
        QCOMPARE(m_updates->status().kind, Kind::available);
        QVERIFY(m_sheet->isVisible());
        QTest::mouseClick(button(m_sheet, QStringLiteral("稍后提醒")), Qt::LeftButton);
        QVERIFY(!m_sheet->isVisible());
    }

    // After a silent check fails the state is idle again and the line shows when the last good check ran, date and time.
    void lastCheckedTime()
    {
        useFeed(versionFeed(QStringLiteral("0.0.1")));
        checkFromAbout(Kind::upToDate);
        useFeed({}, 404);
        m_updates->checkForUpdates(feed(), false);
        QTRY_COMPARE(m_updates->status().kind, Kind::idle);
        const QDateTime last = m_updates->lastCheckedDate();
        QVERIFY(last.isValid());
        const QString line = QStringLiteral("上次检查时间：") + QLocale().toString(last, QLocale::ShortFormat);
        QVERIFY(line.contains(QLocale().toString(last.time(), QLocale::ShortFormat)) && line.contains(QString::number(last.date().year() % 100)));
        verifyViews("idle-checked", {QStringLiteral("稍后提醒"), QStringLiteral("立即更新并下载")}, line, QStringLiteral("立即检查更新"), true);
    }

    // Every state in both views in English, which runs longer: nothing is cut off, and
    // build/screens/en/ shows them. (What each state says is checked above, in Chinese.)
    void englishStates()
    {
        EnglishTexts english;
        QVERIFY(english.isActive());
        cleanup();
        init(); // the views, made again with the English texts
        const auto check = [this](Kind until) {
            QPushButton *button = ::button(m_about, QStringLiteral("Check Now"));
            QVERIFY(button && button->isEnabled());
            QTest::mouseClick(button, Qt::LeftButton);
            QTRY_COMPARE(m_updates->status().kind, until);
        };
        const auto download = [this](Delivery delivery, qint64 size) {
            m_server->setResponse("/pikora_99.0.deb", {200, QByteArray(size, 'd'), delivery});
            QTest::mouseClick(button(m_sheet, QStringLiteral("Download Update")), Qt::LeftButton);
        };

        picture("idle");
        useFeed("{}", 200, Delivery::stallHalfway);
        check(Kind::checking);
        picture("checking");
        QTRY_COMPARE(m_updates->status().kind, Kind::failed);
        picture("failed");
        useFeed({}, 503);
        check(Kind::failed);
        QVERIFY2(visibleTexts<QLabel>(m_about).contains(QStringLiteral("The server answered with an error: HTTP 503")),
                 qPrintable(visibleTexts<QLabel>(m_about).join(u'|')));
        picture("failed-http");
        useFeed(versionFeed(UpdateManager::currentAppVersion()));
        check(Kind::upToDate);
        picture("up-to-date");
        useFeed({}, 404);
        m_updates->checkForUpdates(feed(), false); // a silent check that fails: idle again, with the time of the last good one
        QTRY_COMPARE(m_updates->status().kind, Kind::idle);
        picture("idle-checked");

        useFeed(versionFeed(QStringLiteral("99.0"),
                            {{QStringLiteral("htmlUrl"), QStringLiteral("https://h/release")},
                             {QStringLiteral("downloadUrl"), m_server->url(QStringLiteral("/pikora_99.0.deb")).toString()}}));
        check(Kind::available);
        picture("available");
        download(Delivery::stallHalfway, 100'000);
        QTRY_VERIFY(m_updates->status().kind == Kind::downloading && m_updates->status().receivedBytes == 50'000);
        picture("downloading");
        QTest::mouseClick(button(m_sheet, QStringLiteral("Cancel Download")), Qt::LeftButton);
        download(Delivery::withoutLength, 7);
        QTRY_COMPARE(m_updates->status().kind, Kind::readyToInstall);
        picture("ready");
        cleanup(); // before the English texts go
        init();
    }
};

QTEST_MAIN(TestUiUpdate)
#include "tst_ui_update.moc"
