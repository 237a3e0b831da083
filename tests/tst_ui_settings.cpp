#include "app/autoconvertautostart.h"
#include "app/filemanageractions.h"
#include "app/settingsstore.h"
#include "app/toolstatus.h"
#include "engine/toolcommands.h"
#include "integration/quickactioninstaller.h"
#include "integration/updatemanager.h"
#include "platform/preferences.h"
#include "englishtexts.h"
#include "languagerows.h"
#include "layoutcheck.h"
#include "pictures.h"
#include "reach.h"
#include "platform/uilanguage.h"
#include "screenshots.h"
#include "testenv.h"
#include "widgettexts.h"
#include "ui/languagesetting.h"
#include "ui/outputfoldersetting.h"
#include "ui/performancesettingstab.h"
#include "ui/settingswindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTabBar>
#include <QTest>

#include <memory>
#include <optional>

using WidgetTexts::byText;
using WidgetTexts::startingWith;
using WidgetTexts::visibleTexts;
using Tab = SettingsWindow::Tab;

namespace {

// Where a user clicks a check box or radio button: on its indicator, not in the empty row beside the text.
void clickToggle(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

} // namespace

// The settings window: each page against the stored settings, what opening and editing write.
class TestUiSettings final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    // The services the window takes; a machine of 8 cores, whatever this one has.
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<ToolStatus> m_tools;
    std::unique_ptr<FileManagerActions> m_fileManagerActions;
    std::unique_ptr<UpdateManager> m_updates;
    std::unique_ptr<AutoConvertAutostart> m_autoConvert;
    std::unique_ptr<SettingsWindow> m_window;
    std::optional<EnglishTexts> m_english;

    QWidget *page(Tab tab) const { return m_window->tabs()->widget(static_cast<int>(tab)); }
    OutputFolderSetting *outputFolder() const { return page(Tab::general)->findChild<OutputFolderSetting *>(); }

    void openWindow(Tab tab = Tab::general)
    {
        m_window = std::make_unique<SettingsWindow>(m_settings.get(), m_tools.get(), m_fileManagerActions.get(),
                                                    m_updates.get(), m_autoConvert.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->showTab(tab);
    }

    void setSettings(const std::function<void(AppSettings &)> &edit)
    {
        AppSettings settings = m_settings->settings();
        edit(settings);
        m_settings->setSettings(settings);
    }

    // Pictures a page at size (empty: the smallest); returns texts cut short, controls out of reach, a window too large.
    QString picturePage(Tab tab, const QString &name, QSize size = {}, bool onScreen = false)
    {
        m_window->showTab(tab);
        m_window->resize(size.isEmpty() ? m_window->minimumSize() : size);
        QApplication::processEvents();
        QStringList faults = LayoutCheck::clippedTexts(page(tab)) + Reach::unreachableControls(m_window.get(), page(tab));
        const QRect screen = m_window->screen()->availableGeometry();
        if (!screen.contains(QRect(screen.topLeft(), m_window->frameGeometry().size())))
            faults << QStringLiteral("the window with its frame is larger than the screen");
        if (onScreen)
            Screenshots::saveOnScreen(m_window.get(), EnglishTexts::screensFolder() + name);
        else
            Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + name);
        return faults.isEmpty() ? QString() : name + QStringLiteral(": ") + faults.join(QStringLiteral("; "));
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        TestEnv::forgetPreferences();
        QuickActionInstaller::uninstall();
        m_settings = std::make_unique<SettingsStore>(HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 8, std::nullopt, std::nullopt));
        m_tools = std::make_unique<ToolStatus>(m_settings.get(), ToolCommands::builtInSearchFolders());
        m_fileManagerActions = std::make_unique<FileManagerActions>();
        if (!QTest::qWaitFor([&] { return !m_tools->cjxlPath().isEmpty(); }, 30'000))
            QFAIL("the start-up tool probe never came back");
        m_updates = std::make_unique<UpdateManager>();
        m_updates->setOpener([](const QUrl &) { return true; });
        m_autoConvert = std::make_unique<AutoConvertAutostart>(m_settings.get(), WatchAutostart::locationsFromEnvironment());
    }

    void cleanup()
    {
        m_window.reset();
        m_autoConvert.reset();
        m_updates.reset();
        m_fileManagerActions.reset();
        m_tools.reset();
        m_settings.reset();
        m_english.reset(); // after the widgets that show its texts
    }

    // Every page opened on 800 × 600 and at the smallest size, either language, then a few changed ones: all fits.
    void windowAndPages_data() { LanguageRows::add(); }

    void windowAndPages()
    {
        openWindow();
        QCOMPARE(m_window->screen()->availableGeometry().size(), QSize(800, 600));
        QSignalSpy probed(m_tools.get(), &ToolStatus::statusChanged); // the pages show the tools found, however long that took
        m_tools->probe();
        QVERIFY(probed.wait(30'000));
        const QSize opened = m_window->size();
        for (const auto &[tab, name] : {std::pair{Tab::general, "settings-general"}, {Tab::performance, "settings-performance"},
                                        {Tab::integration, "settings-integration"}, {Tab::about, "settings-about"}}) {
            QCOMPARE(picturePage(tab, QLatin1String(name), opened, true), QString());
            QCOMPARE(picturePage(tab, QLatin1String(name) + QStringLiteral("-smallest")), QString());
        }
        setSettings([](AppSettings &settings) { settings.concurrencyMode = ConcurrencyMode::custom; });
        QCOMPARE(picturePage(Tab::performance, QStringLiteral("settings-performance-custom")), QString());
        const QString line = PerformanceSettingsTab::hardwareLine(m_settings->hardware(), m_settings->settings());
        QVERIFY2(byText<QLabel>(page(Tab::performance), line), qPrintable(line));

        // Beside the photos until a folder is chosen, which stays offered after a switch back.
        const QStringList beside = visibleTexts<QLabel>(page(Tab::general));
        const QByteArray settingsBefore = Preferences().data(SettingsStore::settingsKey);
        const QString folder = m_root.filePath(QStringLiteral("Backup %1/JPEG XL 输出").arg(QLatin1String(QTest::currentDataTag())));
        QVERIFY(QDir().mkpath(folder));
        outputFolder()->chooseFolder(folder + QStringLiteral("/"));
        QCOMPARE(m_settings->outputFolder(), folder);
        QCOMPARE(outputFolder()->choices()->currentText(), folder);
        QVERIFY(visibleTexts<QLabel>(page(Tab::general)) != beside);
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), settingsBefore); // the record is not touched
        QCOMPARE(picturePage(Tab::general, QStringLiteral("settings-general-output-folder")), QString());
        QComboBox *choices = outputFolder()->choices();
        choices->setFocus(); // back beside the photos with the keyboard, and to the folder again
        QTest::keyClick(choices, Qt::Key_Up);
        QVERIFY(m_settings->outputFolder().isEmpty() && !Preferences().contains(SettingsStore::outputFolderKey));
        QCOMPARE(visibleTexts<QLabel>(page(Tab::general)), beside);
        QTest::keyClick(choices, Qt::Key_Down);
        QCOMPARE(m_settings->outputFolder(), folder);

        // Gone when the window opens again, it says so; chosen again, the warning goes.
        const QString inFolder = outputFolder()->note()->text();
        QVERIFY(QDir(folder).removeRecursively());
        openWindow();
        QTRY_VERIFY(outputFolder()->note()->text() != inFolder);
        QCOMPARE(picturePage(Tab::general, QStringLiteral("settings-general-output-folder-missing")), QString());
        QVERIFY(QDir().mkpath(folder));
        m_settings->setOutputFolder(QString());
        outputFolder()->chooseFolder(folder);
        QTRY_COMPARE(outputFolder()->note()->text(), inFolder);
    }

    // Choosing a language writes its own key alone, and a new window shows it.
    void languageChoice()
    {
        openWindow();
        QComboBox *choices = page(Tab::general)->findChild<LanguageSetting *>()->choices();
        const QByteArray settingsBefore = Preferences().data(SettingsStore::settingsKey);
        QVERIFY(choices->currentIndex() == 0 && !Preferences().contains(UiLanguage::preferenceKey)); // showing it writes nothing
        choices->setFocus();
        QTest::keyClick(choices, Qt::Key_Down); // the keyboard moves the choice and activates it
        QCOMPARE(UiLanguage::storedChoice(Preferences()), UiLanguage::Choice::chinese);
        QTest::keyClick(choices, Qt::Key_Down);
        QCOMPARE(UiLanguage::storedChoice(Preferences()), UiLanguage::Choice::english);
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), settingsBefore);
        openWindow();
        QCOMPARE(page(Tab::general)->findChild<LanguageSetting *>()->choices()->currentIndex(), 2);
    }

    // Out-of-range stored values are shown clamped, and nothing is written until that very control moves.
    void openingWritesNothing()
    {
        const int total = m_settings->hardware().totalCores;
        setSettings([](AppSettings &s) {
            s.concurrencyMode = ConcurrencyMode::custom;
            s.concurrency = 10'000;
            s.compressionEffort = 12;
            s.hapticFeedbackEnabled = false;
            s.deleteStrategy = DeleteStrategy::moveToTrash;
            s.verifyLossless = false;
        });
        const QByteArray stored = Preferences().data(SettingsStore::settingsKey);
        QSignalSpy changed(m_settings.get(), &SettingsStore::settingsChanged);
        openWindow();
        for (int i = 0; i < 4; ++i)
            m_window->tabs()->setCurrentIndex(i);
        QApplication::processEvents();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), stored);

        m_window->showTab(Tab::performance);
        const QList<QSlider *> sliders = page(Tab::performance)->findChildren<QSlider *>();
        QSlider *cores = sliders.at(0);
        QSlider *effort = sliders.at(1);
        QCOMPARE((QList<int>{cores->maximum(), cores->value(), effort->value()}), (QList<int>{total, total, 9}));
        effort->setFocus();
        QTest::keyClick(effort, Qt::Key_Home);
        QCOMPARE(m_settings->settings().compressionEffort, 1);
        QCOMPARE(m_settings->settings().concurrency, 10'000);
        cores->setFocus();
        QTest::keyClick(cores, Qt::Key_Home);
        QCOMPARE(m_settings->settings().concurrency, 1);
        QVERIFY(!m_settings->settings().hapticFeedbackEnabled && !m_settings->settings().verifyLossless);
    }

    // A mode chosen is stored; the core count shows only for custom, and switching never changes it.
    void concurrencyModes()
    {
        setSettings([](AppSettings &s) { s.concurrency = 1; });
        openWindow(Tab::performance);
        auto *mode = page(Tab::performance)->findChild<QComboBox *>();
        auto *cores = page(Tab::performance)->findChild<QSlider *>();
        for (int index : {3, 0, 1, 2, 3}) {
            mode->setCurrentIndex(index);
            emit mode->activated(index);
            QCOMPARE(static_cast<int>(m_settings->settings().concurrencyMode), index);
            QCOMPARE(cores->isVisibleTo(m_window.get()), index == 3);
            QVERIFY(byText<QLabel>(page(Tab::performance), PerformanceSettingsTab::hardwareLine(m_settings->hardware(), m_settings->settings())));
        }
        QVERIFY(m_settings->settings().concurrency == 1 && cores->value() == 1);
    }

    // Disposal stored as clicked; trash and delete show verification on and locked, without writing it.
    void deleteStrategies()
    {
        openWindow();
        QWidget *general = page(Tab::general);
        const QList<QRadioButton *> strategies = general->findChildren<QRadioButton *>();
        auto *verify = byText<QCheckBox>(general, QStringLiteral("始终验证无损转换"));
        for (const auto &[strategy, locked] : {std::pair{1, true}, {2, true}, {0, false}}) {
            clickToggle(strategies.at(strategy));
            QCOMPARE(static_cast<int>(m_settings->settings().deleteStrategy), strategy);
            QCOMPARE(verify->isChecked(), locked);
            QCOMPARE(verify->isEnabled(), !locked);
            QVERIFY(!m_settings->settings().verifyLossless);
        }
        clickToggle(verify);
        QVERIFY(m_settings->settings().verifyLossless);
    }

    // The about page names the application and its version; Escape closes the window.
    void aboutAndEscape_data() { LanguageRows::add(); }

    void aboutAndEscape()
    {
        openWindow(Tab::about);
        const QStringList texts = visibleTexts<QLabel>(page(Tab::about));
        QVERIFY2(texts.count(QStringLiteral("Pikora")) == 1 && !texts.filter(UpdateManager::currentAppVersion()).isEmpty(),
                 qPrintable(texts.join(u'|')));
        QCOMPARE(Pictures::save(m_window.get(), QStringLiteral("settings-about-name")), QString());
        QTest::keyClick(m_window->tabs()->tabBar(), Qt::Key_Escape);
        QVERIFY(!m_window->isVisible());
    }

    // A path typed is stored and probed at once; the line under it says what was found or used instead.
    void toolPaths()
    {
        const QString fake = TestEnv::writeScript(m_root.filePath(QStringLiteral("tools/my cjxl")),
                                                  "echo 'cjxl v9.8.7 [AVX2]'\necho 'Copyright'\n");
        const QString installed = TestEnv::installedTool(QStringLiteral("cjxl"));
        openWindow();
        QLineEdit *field = page(Tab::general)->findChildren<QLineEdit *>().at(0);
        const auto enter = [&](const QString &path, const QString &found) {
            field->setFocus();
            field->clear();
            QTest::keyClicks(field, path);
            QTest::keyClick(field, Qt::Key_Return);
            QCOMPARE(m_settings->settings().customCjxlPath, path);
            QTRY_VERIFY2(startingWith<QLabel>(page(Tab::general), found), qPrintable(found));
        };
        enter(fake, QStringLiteral("已找到：%1（v9.8.7）").arg(fake));
        QCOMPARE(m_tools->cjxlPath(), fake);
        if (!installed.isEmpty())
            enter(m_root.filePath(QStringLiteral("tools")), QStringLiteral("所填路径不是可执行文件，已改用：%1（v").arg(installed));
    }

    // Add and remove through the page; a failed install says why in a box, and the page stays as it was.
    void fileManagerActions_data() { LanguageRows::add(); }

    void fileManagerActions()
    {
        const auto text = [](const char *source) { return QCoreApplication::translate("IntegrationSettingsTab", source); };
        const QString blocker = QuickActionInstaller::locations().dataHome + QStringLiteral("/nautilus");
        QDir(blocker).removeRecursively();
        TestEnv::writeAll(blocker, "not a folder");
        openWindow(Tab::integration);
        QWidget *integration = page(Tab::integration);
        QTest::mouseClick(byText<QPushButton>(integration, text("添加至文件管理器…")), Qt::LeftButton);
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = integration->findChild<QMessageBox *>()) && box->isVisible());
        QCOMPARE(box->text(), text("无法添加文件管理器快捷操作"));
        QVERIFY2(box->informativeText().contains(blocker), qPrintable(box->informativeText()));
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))->textFormat(), Qt::PlainText);
        QCOMPARE(Pictures::save(box, QStringLiteral("settings-integration-failed")), QString());
        box->accept();
        QVERIFY(!m_fileManagerActions->isInstalled() && visibleTexts<QLabel>(integration).contains(text("未安装")));

        QVERIFY(QFile::remove(blocker));
        QTest::mouseClick(byText<QPushButton>(integration, text("添加至文件管理器…")), Qt::LeftButton);
        QVERIFY(m_fileManagerActions->isInstalled() && visibleTexts<QLabel>(integration).contains(text("已安装")));
        QCOMPARE(Pictures::save(m_window.get(), QStringLiteral("settings-integration-installed")), QString());
        QTest::mouseClick(byText<QPushButton>(integration, text("移除快捷操作")), Qt::LeftButton);
        QVERIFY(!m_fileManagerActions->isInstalled() && !QuickActionInstaller::isInstalled());
        QVERIFY(byText<QPushButton>(integration, text("添加至文件管理器…")));
    }
};

QTEST_MAIN(TestUiSettings)
#include "tst_ui_settings.moc"
