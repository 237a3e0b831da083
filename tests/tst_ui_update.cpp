#include "app/settingsstore.h"
#include "englishtexts.h"
#include "integration/updatefeed.h"
#include "integration/updatemanager.h"
#include "languagerows.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "pictures.h"
#include "testenv.h"
#include "testhttpserver.h"
#include "widgettexts.h"
#include "ui/aboutsettingstab.h"
#include "ui/updatesheet.h"
#include "ui/updatetexts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>
#include <optional>

using namespace std::chrono_literals;
using Delivery = TestHttpServer::Delivery;
using Kind = UpdateStatus::Kind;
using WidgetTexts::byText;
using WidgetTexts::visibleTexts;

namespace {

QByteArray versionFeed(const QString &version, QJsonObject fields = {})
{
    fields.insert(QStringLiteral("version"), version);
    return QJsonDocument(fields).toJson();
}

// A text of the sheet or the About page in the language in force.
QString sheetText(const char *source) { return QCoreApplication::translate("UpdateSheet", source); }
QString aboutText(const char *source) { return QCoreApplication::translate("AboutSettingsTab", source); }

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

    void useFeed(const QByteArray &body, int status = 200, Delivery delivery = Delivery::complete)
    {
        m_server->setResponse("/feed", {status, body, delivery});
    }

    void checkFromAbout(Kind until)
    {
        QPushButton *check = byText<QPushButton>(m_about, aboutText("立即检查更新"));
        QVERIFY(check && check->isEnabled());
        QTest::mouseClick(check, Qt::LeftButton);
        QTRY_COMPARE(m_updates->status().kind, until);
    }

    // What both views show in the current state: the sheet's buttons, the About page's line and
    // its check button; then pictures of both (English ones under en/), nothing in them cut off.
    void verifyViews(const char *screen, std::initializer_list<const char *> sheetButtons = {"稍后提醒", "立即更新并下载"},
                     bool checkEnabled = true)
    {
        QApplication::processEvents();
        QStringList buttons{sheetText("在浏览器中打开")};
        for (const char *text : sheetButtons)
            buttons << sheetText(text);
        QCOMPARE(visibleTexts<QPushButton>(m_sheet), buttons);
        const QString line = UpdateTexts::statusLine(m_updates->status(), m_updates->lastCheckedDate());
        QVERIFY2(visibleTexts<QLabel>(m_about).contains(line), qPrintable(visibleTexts<QLabel>(m_about).join(u'|')));
        QPushButton *check = byText<QPushButton>(m_about, aboutText(m_updates->status().kind == Kind::checking ? "检查中…" : "立即检查更新"));
        QVERIFY2(check, qPrintable(visibleTexts<QPushButton>(m_about).join(u'|')));
        QCOMPARE(check->isEnabled(), checkEnabled);
        QCOMPARE(Pictures::save(m_sheet, QStringLiteral("update-sheet-") + QLatin1String(screen)), QString());
        QCOMPARE(Pictures::save(m_about, QStringLiteral("update-about-") + QLatin1String(screen)), QString());
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        Preferences().remove(SettingsStore::settingsKey);
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen());
        m_settings = std::make_unique<SettingsStore>(HardwareInfo());
        AppSettings settings = m_settings->settings();
        settings.customUpdateFeedURL = m_server->url(QStringLiteral("/feed")).toString(); // the About page checks it
        m_settings->setSettings(settings);
        const QString host = m_server->url({}).toString();
        m_updates = std::make_unique<UpdateManager>(UpdateEndpoints::fromHosts(host, host, host, QStringLiteral("https://h/site/")), 500ms);
        m_opened.clear();
        m_revealed.clear();
        m_updates->setOpener([this](const QUrl &url) { m_opened.append(url); return true; });
        m_updates->setRevealer([this](const QUrl &url) { m_revealed.append(url); });
        m_mainWindow = std::make_unique<QWidget>();
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

    void wholePercent()
    {
        for (const auto &[progress, percent] : {std::pair{0.999, 99}, {0.4299, 42}, {1.0, 100}, {0.0, 0}, {-0.2, 0}, {1.7, 100},
                                                {std::nan(""), 0}})
            QCOMPARE(UpdateTexts::wholePercent(progress), percent);
    }

    // From nothing to a downloaded package, each state in the sheet and on the About page, in
    // either language.
    void throughADownload_data() { LanguageRows::add(); }

    void throughADownload()
    {
        QVERIFY(m_sheet->windowModality() == Qt::WindowModal && m_sheet->isVisible());
        QVERIFY(!m_sheet->findChild<QPlainTextEdit *>()->toPlainText().isEmpty()); // the usual notes before a check
        QVERIFY(!visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("v99.0")));
        verifyViews("idle");
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("立即更新并下载")), Qt::LeftButton); // no release known: nothing happens
        QCOMPARE(m_updates->status().kind, Kind::idle);
        QVERIFY(m_opened.isEmpty());

        useFeed("{}", 200, Delivery::stallHalfway);
        checkFromAbout(Kind::checking);
        verifyViews("checking", {"稍后提醒", "立即更新并下载"}, false);
        QTRY_COMPARE(m_updates->status().kind, Kind::failed);
        verifyViews("failed");
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(m_updates->status().message));
        useFeed({}, 503);
        checkFromAbout(Kind::failed);
        verifyViews("failed-http");
        useFeed(versionFeed(UpdateManager::currentAppVersion()));
        checkFromAbout(Kind::upToDate);
        verifyViews("up-to-date");
        // A silent check that fails: idle again, saying when the last good check ran.
        useFeed({}, 404);
        m_updates->checkForUpdates(m_settings->settings().customUpdateFeedURL, false);
        QTRY_COMPARE(m_updates->status().kind, Kind::idle);
        QVERIFY(m_updates->lastCheckedDate().isValid());
        verifyViews("idle-checked");

        // Release notes are plain text: markup shows as typed.
        const QString notes = QStringLiteral("<b>更快</b> & <a href=\"x\">链接</a>\n第二行");
        useFeed(versionFeed(QStringLiteral("99.0"),
                            {{QStringLiteral("releaseNotes"), notes},
                             {QStringLiteral("htmlUrl"), QStringLiteral("https://h/release")},
                             {QStringLiteral("downloadUrl"), m_server->url(QStringLiteral("/pikora_99.0.deb")).toString()}}));
        checkFromAbout(Kind::available);
        QCOMPARE(m_sheet->findChild<QPlainTextEdit *>()->toPlainText(), notes);
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(QStringLiteral("v99.0")));
        verifyViews("available");
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("在浏览器中打开")), Qt::LeftButton);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://h/release"))});

        m_server->setResponse("/pikora_99.0.deb", {200, QByteArray(100'000, 'd'), Delivery::stallHalfway});
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("立即更新并下载")), Qt::LeftButton);
        QTRY_VERIFY(m_updates->status().kind == Kind::downloading && m_updates->status().receivedBytes == 50'000);
        verifyViews("downloading", {"取消下载"}, false);
        const QStringList progress = visibleTexts<QLabel>(m_sheet);
        QVERIFY(progress.contains(sheetText("正在下载更新包… %1%").arg(50)));
        QVERIFY(progress.contains(formattedBytes(50'000) + QStringLiteral(" / ") + formattedBytes(100'000)));
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("取消下载")), Qt::LeftButton);
        QCOMPARE(m_updates->status().kind, Kind::available);

        m_server->setResponse("/pikora_99.0.deb", {200, "package", Delivery::withoutLength});
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("立即更新并下载")), Qt::LeftButton);
        QTRY_COMPARE(m_updates->status().kind, Kind::readyToInstall);
        const QUrl saved = m_updates->status().fileURL;
        QCOMPARE(saved.fileName(), QStringLiteral("Pikora-v99.0.deb"));
        QCOMPARE(m_revealed, QList<QUrl>{saved}); // shown in the file manager, never opened
        verifyViews("ready", {"在文件管理器中显示", "完成"});
        QVERIFY(visibleTexts<QLabel>(m_sheet).contains(UpdateTexts::installHint(saved)));
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("在文件管理器中显示")), Qt::LeftButton);
        QCOMPARE(m_revealed, (QList<QUrl>{saved, saved}));
        QCOMPARE(m_opened.size(), 1);
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("完成")), Qt::LeftButton);
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
        QVERIFY(!byText<QPushButton>(m_sheet, sheetText("立即更新并下载"))->toolTip().isEmpty());
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("立即更新并下载")), Qt::LeftButton);
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://h/r"))});
        QCOMPARE(m_updates->status().kind, Kind::available);
        QVERIFY(m_sheet->isVisible());
        QTest::mouseClick(byText<QPushButton>(m_sheet, sheetText("稍后提醒")), Qt::LeftButton);
        QVERIFY(!m_sheet->isVisible());
    }
};

QTEST_MAIN(TestUiUpdate)
#include "tst_ui_update.moc"
