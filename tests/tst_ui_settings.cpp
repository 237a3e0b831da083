#include "app/filemanageractions.h"
#include "app/settingsstore.h"
#include "app/toolstatus.h"
#include "engine/toolcommands.h"
#include "integration/quickactioninstaller.h"
#include "integration/updatemanager.h"
#include "platform/preferences.h"
#include "englishtexts.h"
#include "layoutcheck.h"
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
#include <QScrollArea>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTabBar>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>

using WidgetTexts::byText;
using WidgetTexts::visibleTexts;

namespace {

// Where a user clicks a check box or radio button: on its indicator, not in the empty row beside the text.
void clickToggle(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// The label whose text starts with prefix, shown or not.
QLabel *labelStartingWith(const QWidget *page, const QString &prefix)
{
    for (QLabel *label : page->findChildren<QLabel *>()) {
        if (label->text().startsWith(prefix))
            return label;
    }
    return nullptr;
}

} // namespace

// The settings window: each page's controls against the stored settings, what opening and
// editing write, the tool probe behind the path fields, and the file-manager actions.
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
    std::unique_ptr<SettingsWindow> m_window;
    std::optional<EnglishTexts> m_english;

    QWidget *page(SettingsWindow::Tab tab) const { return m_window->tabs()->widget(static_cast<int>(tab)); }

    void openWindow()
    {
        m_window = std::make_unique<SettingsWindow>(m_settings.get(), m_tools.get(), m_fileManagerActions.get(),
                                                    m_updates.get());
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void setSettings(const std::function<void(AppSettings &)> &edit)
    {
        AppSettings settings = m_settings->settings();
        edit(settings);
        m_settings->setSettings(settings);
    }

    // Looks for the tools again and waits for the answer: pages show the same, found or not,
    // however long the first look took.
    void probeTools()
    {
        QSignalSpy probed(m_tools.get(), &ToolStatus::statusChanged);
        m_tools->probe();
        QVERIFY(probed.wait(30'000));
    }

    // The controls of the page shown that cannot be brought into the window, scrolling where
    // the page scrolls.
    QStringList unreachable(SettingsWindow::Tab tab) const
    {
        QStringList out;
        for (QWidget *control : page(tab)->findChildren<QWidget *>()) {
            if (!control->isVisibleTo(m_window.get()) || control->focusPolicy() == Qt::NoFocus || control->inherits("QScrollBar"))
                continue;
            for (QWidget *above = control->parentWidget(); above; above = above->parentWidget()) {
                // Its whole rectangle (ensureWidgetVisible would show a line edit's cursor only).
                if (auto *area = qobject_cast<QScrollArea *>(above)) {
                    const QPoint centre = control->mapTo(area->widget(), control->rect().center());
                    area->ensureVisible(centre.x(), centre.y(), control->width() / 2 + 1, control->height() / 2 + 1);
                }
            }
            // What of it the widgets around it leave in view.
            QRect shown = control->rect();
            for (const QWidget *widget = control; widget != m_window.get(); widget = widget->parentWidget())
                shown = shown.translated(widget->pos()) & widget->parentWidget()->rect();
            if (shown.size() != control->size())
                out << QString::fromLatin1(control->metaObject()->className()) + u' ' + control->accessibleName();
        }
        return out;
    }

    // Shows a page at the window's smallest size and pictures it; returns the texts cut short
    // there and the controls out of reach.
    QString pictureAtSmallestSize(SettingsWindow::Tab tab, const QString &screenshot)
    {
        m_window->showTab(tab);
        m_window->resize(m_window->minimumSize());
        QApplication::processEvents();
        const QStringList faults = LayoutCheck::clippedTexts(page(tab)) + unreachable(tab);
        Screenshots::save(m_window.get(), screenshot);
        return faults.join(QStringLiteral("; "));
    }

    // Every page in turn, as the window opens on an 800 × 600 screen (the offscreen platform's)
    // and at its smallest size, pictured with names from prefix; the texts cut short, the
    // controls out of reach and a window that leaves the screen, by page.
    QString pictureEveryPage(const QString &prefix)
    {
        const QRect screen = m_window->screen()->availableGeometry();
        if (screen.size() != QSize(800, 600))
            return QStringLiteral("the screen is %1×%2, not 800×600").arg(screen.width()).arg(screen.height());
        QString cut;
        const QSize opened = m_window->size();
        for (const auto &[tab, name] : {std::pair{SettingsWindow::Tab::general, "settings-general"},
                                        std::pair{SettingsWindow::Tab::performance, "settings-performance"},
                                        std::pair{SettingsWindow::Tab::integration, "settings-integration"},
                                        std::pair{SettingsWindow::Tab::about, "settings-about"}}) {
            m_window->resize(opened);
            m_window->showTab(tab);
            QApplication::processEvents();
            QStringList faults = LayoutCheck::clippedTexts(page(tab)) + unreachable(tab);
            const QSize outer = m_window->frameGeometry().size();
            if (outer.width() > screen.width() || outer.height() > screen.height())
                faults << QStringLiteral("%1×%2 with its frame, on a screen of 800×600").arg(outer.width()).arg(outer.height());
            Screenshots::saveOnScreen(m_window.get(), prefix + QLatin1String(name));
            const QString smallest = pictureAtSmallestSize(tab, prefix + QLatin1String(name) + QStringLiteral("-smallest"));
            if (!smallest.isEmpty())
                faults << QStringLiteral("smallest: ") + smallest;
            if (!faults.isEmpty())
                cut += QLatin1String(name) + QStringLiteral(": ") + faults.join(QStringLiteral("; ")) + u'\n';
        }
        m_window->resize(opened);
        return cut;
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
        Preferences store;
        store.remove(SettingsStore::settingsKey);
        store.remove(SettingsStore::outputFolderKey);
        store.sync();
        QuickActionInstaller::uninstall();
        m_settings = std::make_unique<SettingsStore>(HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 8, std::nullopt, std::nullopt));
        m_tools = std::make_unique<ToolStatus>(m_settings.get(), ToolCommands::builtInSearchFolders());
        m_fileManagerActions = std::make_unique<FileManagerActions>();
        if (!QTest::qWaitFor([&] { return !m_tools->cjxlPath().isEmpty(); }, 30'000))
            QFAIL("the start-up tool probe never came back");
        m_updates = std::make_unique<UpdateManager>();
        m_updates->setOpener([](const QUrl &) { return true; });
    }

    void cleanup()
    {
        m_window.reset();
        m_updates.reset();
        m_fileManagerActions.reset();
        m_tools.reset();
        m_settings.reset();
        m_english.reset(); // after the widgets that show its texts
    }

    // Every page on an 800 × 600 screen and at the smallest size, in either language (English,
    // which runs longer, under en/): nothing cut off, every control in reach. Then the pages that
    // change: a custom core count, an output folder chosen, and gone when the window opens again.
    void windowAndPages_data()
    {
        QTest::addColumn<QString>("custom"); // the hardware line's start with a custom core count
        QTest::newRow("Chinese") << QStringLiteral("Test CPU · 自定 ");
        QTest::newRow("English") << QStringLiteral("Test CPU · Custom: ");
    }

    void windowAndPages()
    {
        QFETCH(QString, custom);
        const QString folder = EnglishTexts::screensFolder();
        openWindow();
        QCOMPARE(m_window->tabs()->count(), 4);
        QVERIFY(!m_window->isModal());
        QVERIFY(m_window->minimumWidth() >= 500 && m_window->minimumHeight() >= 380);
        // No haptics on Linux desktops: the switch is gone and its stored value stays untouched.
        QVERIFY(!byText<QCheckBox>(page(SettingsWindow::Tab::general), QStringLiteral("启用触控板触觉震动反馈")));
        probeTools();
        QCOMPARE(pictureEveryPage(folder), QString());
        setSettings([](AppSettings &settings) { settings.concurrencyMode = ConcurrencyMode::custom; });
        QCOMPARE(pictureAtSmallestSize(SettingsWindow::Tab::performance, folder + QStringLiteral("settings-performance-custom")), QString());
        QVERIFY(labelStartingWith(page(SettingsWindow::Tab::performance), custom));

        auto *output = page(SettingsWindow::Tab::general)->findChild<OutputFolderSetting *>();
        const QString chosen = m_root.filePath(QStringLiteral("Backup/JPEG XL 输出"));
        QVERIFY(QDir().mkpath(chosen));
        output->chooseFolder(chosen);
        QCOMPARE(pictureAtSmallestSize(SettingsWindow::Tab::general, folder + QStringLiteral("settings-general-output-folder")), QString());
        QVERIFY(QDir(chosen).removeRecursively());
        const QString note = output->note()->text();
        openWindow();
        output = page(SettingsWindow::Tab::general)->findChild<OutputFolderSetting *>();
        QTRY_VERIFY(output->note()->text() != note); // it says the folder is gone
        QCOMPARE(pictureAtSmallestSize(SettingsWindow::Tab::general, folder + QStringLiteral("settings-general-output-folder-missing")),
                 QString());
    }

    // The language is a preference of its own, offered in the General tab and read at the next
    // start: choosing one writes that key alone and changes no text now.
    void languageChoice()
    {
        Preferences store;
        store.remove(UiLanguage::preferenceKey);
        openWindow();
        auto *setting = page(SettingsWindow::Tab::general)->findChild<LanguageSetting *>();
        QVERIFY(setting && setting->isVisibleTo(m_window.get()));
        QCOMPARE(setting->title(), QStringLiteral("界面语言"));
        QComboBox *choices = setting->choices();
        QStringList names;
        for (int i = 0; i < choices->count(); ++i)
            names << choices->itemText(i);
        QCOMPARE(names, (QStringList{QStringLiteral("跟随系统"), QStringLiteral("简体中文"), QStringLiteral("English")}));
        QCOMPARE(choices->currentIndex(), 0);
        QVERIFY(labelStartingWith(setting, QStringLiteral("重新启动 Pikora 后生效"))->isVisibleTo(setting));
        QVERIFY(!store.contains(UiLanguage::preferenceKey)); // showing it writes nothing

        const QByteArray settingsBefore = store.data(SettingsStore::settingsKey);
        choices->setFocus();
        QTest::keyClick(choices, Qt::Key_Down); // the keyboard moves the choice and activates it
        QCOMPARE(choices->currentIndex(), 1);
        QCOMPARE(UiLanguage::storedChoice(Preferences()), UiLanguage::Choice::chinese);
        QTest::keyClick(choices, Qt::Key_Down);
        QCOMPARE(UiLanguage::storedChoice(Preferences()), UiLanguage::Choice::english);
        QCOMPARE(store.data(SettingsStore::settingsKey), settingsBefore);
        QCOMPARE(setting->title(), QStringLiteral("界面语言")); // applied at the next start only

        // A new window shows the stored choice.
        m_window.reset();
        openWindow();
        QCOMPARE(page(SettingsWindow::Tab::general)->findChild<LanguageSetting *>()->choices()->currentIndex(), 2);
        store.remove(UiLanguage::preferenceKey);
    }

    // Where outputs go: a preference of its own, beside the photos until a folder is chosen. A
    // chosen folder stays offered after a switch back, and one
    // that is gone is said so beside the control.
    void outputFolderChoice()
    {
        Preferences store;
        openWindow();
        QWidget *general = page(SettingsWindow::Tab::general);
        auto *setting = general->findChild<OutputFolderSetting *>();
        QVERIFY(setting && setting->isVisibleTo(m_window.get()));
        QCOMPARE(setting->title(), QStringLiteral("输出位置"));
        QComboBox *choices = setting->choices();
        QCOMPARE(choices->count(), 1);
        QCOMPARE(choices->currentText(), QStringLiteral("与原照片相同的文件夹"));
        QCOMPARE(setting->chooseButton()->text(), QStringLiteral("选择…"));
        QCOMPARE(setting->note()->text(), QStringLiteral("转换后的文件保存在原照片旁边。"));
        QVERIFY(!store.contains(SettingsStore::outputFolderKey)); // showing it writes nothing
        // The note under kept originals says where the new photos go.
        const auto shows = [general](const QString &text) {
            const QList<QLabel *> labels = general->findChildren<QLabel *>();
            return std::any_of(labels.cbegin(), labels.cend(),
                               [&](const QLabel *label) { return label->text() == text && label->isVisibleTo(general); });
        };
        const QString beside = QStringLiteral("在原文件同目录下输出新照片，完整保留原件。");
        const QString inFolder = QStringLiteral("在所选的输出文件夹中生成新照片，完整保留原件。");
        QVERIFY(shows(beside) && !shows(inFolder));

        const QByteArray settingsBefore = store.data(SettingsStore::settingsKey);
        const QString folder = m_root.filePath(QStringLiteral("Backup/JPEG XL 输出"));
        QVERIFY(QDir().mkpath(folder));
        setting->chooseFolder(folder + QStringLiteral("/"));
        QCOMPARE(m_settings->outputFolder(), folder);
        QCOMPARE(choices->currentIndex(), 1);
        QCOMPARE(choices->currentText(), folder);
        QCOMPARE(setting->note()->text(), QStringLiteral("转换后的文件保存在此文件夹中，并保留导入文件夹的目录结构。"));
        QCOMPARE(store.data(SettingsStore::settingsKey), settingsBefore); // the record is not touched
        QVERIFY(shows(inFolder) && !shows(beside));

        // Back beside the photos with the keyboard, and to the folder again: it is still offered.
        choices->setFocus();
        QTest::keyClick(choices, Qt::Key_Up);
        QCOMPARE(m_settings->outputFolder(), QString());
        QVERIFY(!store.contains(SettingsStore::outputFolderKey));
        QVERIFY(shows(beside));
        QCOMPARE(choices->count(), 2);
        QTest::keyClick(choices, Qt::Key_Down);
        QCOMPARE(m_settings->outputFolder(), folder);

        // A new window shows the stored folder; gone meanwhile, it says so.
        m_window.reset();
        QVERIFY(QDir(folder).removeRecursively());
        openWindow();
        setting = page(SettingsWindow::Tab::general)->findChild<OutputFolderSetting *>();
        QCOMPARE(setting->choices()->currentText(), folder);
        QTRY_COMPARE(setting->note()->text(),
                     QStringLiteral("此文件夹不存在：批处理不会开始，直到它再次可用（例如接上它所在的磁盘）或另选输出位置。"));
        // Chosen again (made anew), the warning goes.
        QVERIFY(QDir().mkpath(folder));
        m_settings->setOutputFolder(QString());
        setting->chooseFolder(folder);
        QTRY_COMPARE(setting->note()->text(), QStringLiteral("转换后的文件保存在此文件夹中，并保留导入文件夹的目录结构。"));
    }

    // Stored values an edited file may hold: shown clamped, and nothing written until the user
    // moves that very control.
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

        m_window->showTab(SettingsWindow::Tab::performance);
        QWidget *performance = page(SettingsWindow::Tab::performance);
        const QList<QSlider *> sliders = performance->findChildren<QSlider *>();
        QCOMPARE(sliders.size(), 2);
        QSlider *cores = sliders.at(0);
        QSlider *effort = sliders.at(1);
        QCOMPARE((QList<int>{cores->maximum(), cores->value(), effort->value()}), (QList<int>{total, total, 9}));
        QVERIFY(byText<QLabel>(performance, QStringLiteral("%1 核").arg(total)) && byText<QLabel>(performance, QStringLiteral("9")));
        // The hardware line says what a batch really runs.
        QVERIFY(labelStartingWith(performance, m_settings->hardware().chipName)->text().endsWith(
            QStringLiteral(" · 自定 %1 核心").arg(total)));

        effort->setFocus();
        QTest::keyClick(effort, Qt::Key_Home);
        QCOMPARE(m_settings->settings().compressionEffort, 1);
        QCOMPARE(m_settings->settings().concurrency, 10'000);
        QTest::keyClick(effort, Qt::Key_End);
        QCOMPARE(m_settings->settings().compressionEffort, 9);
        QVERIFY(byText<QLabel>(performance, QStringLiteral("9")));
        if (total > 1) {
            cores->setFocus();
            QTest::keyClick(cores, Qt::Key_Home);
            QCOMPARE(m_settings->settings().concurrency, 1);
        }
        QVERIFY(!m_settings->settings().hapticFeedbackEnabled);
        QVERIFY(!m_settings->settings().verifyLossless);
    }

    void hardwareLine_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("hybrid");
        QTest::addColumn<QString>("line");
        const auto row = [](const char *name, ConcurrencyMode mode, bool hybrid, const char *line) {
            QTest::newRow(name) << static_cast<int>(mode) << hybrid << QString::fromUtf8(line);
        };
        row("auto, hybrid", ConcurrencyMode::autoMode, true, "Test CPU · 智能调度 6 核心 (4 性能核 + 4 能效核)");
        row("auto", ConcurrencyMode::autoMode, false, "Test CPU · 智能调度 6 核心");
        row("max", ConcurrencyMode::maxPerformance, false, "Test CPU · 调度全部 8 核心");
        row("saver", ConcurrencyMode::energySaver, true, "Test CPU · 调度 4 核心");
        row("custom, clamped", ConcurrencyMode::custom, false, "Test CPU · 自定 8 核心");
    }

    void hardwareLine()
    {
        QFETCH(int, mode);
        QFETCH(bool, hybrid);
        const HardwareInfo hw = HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 8, hybrid ? std::optional(4) : std::nullopt,
                                                        hybrid ? std::optional(4) : std::nullopt);
        AppSettings settings;
        settings.concurrencyMode = static_cast<ConcurrencyMode>(mode);
        settings.concurrency = 64;
        QTEST(PerformanceSettingsTab::hardwareLine(hw, settings), "line");
    }

    // Choosing a mode: its explanation, and the core count row only for custom.
    void concurrencyModes()
    {
        openWindow();
        m_window->showTab(SettingsWindow::Tab::performance);
        QWidget *performance = page(SettingsWindow::Tab::performance);
        auto *mode = performance->findChild<QComboBox *>();
        QCOMPARE(mode->count(), 4);
        const QStringList explanations{QStringLiteral("根据本机的处理器核心数自动调度，全速转码的同时预留系统响应余量。"),
                                       QStringLiteral("全力释放处理器算力，适合大批量照片集中转码。"),
                                       QStringLiteral("降低发热与电量消耗，适合不插电办公或后台静默批处理。"),
                                       QStringLiteral("手动指定参与并发转码的 CPU 核心数。")};
        setSettings([](AppSettings &s) { s.concurrency = 1; });
        for (int index : {3, 0, 1, 2, 3}) {
            mode->setFocus();
            mode->setCurrentIndex(index);
            emit mode->activated(index);
            QCOMPARE(static_cast<int>(m_settings->settings().concurrencyMode), index);
            const QStringList texts = visibleTexts<QLabel>(performance);
            QVERIFY2(texts.contains(explanations.at(index)), qPrintable(texts.join(u'|')));
            QCOMPARE(texts.contains(QStringLiteral("核心数量")), index == 3);
        }
        QCOMPARE(m_settings->settings().concurrency, 1); // switching modes never changes the stored number
        QVERIFY(visibleTexts<QLabel>(performance).contains(QStringLiteral("1 核")));
    }

    void deleteStrategies_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("locked");
        QTest::newRow("keep") << 0 << QStringLiteral("在原文件同目录下输出新照片，完整保留原件。") << false;
        QTest::newRow("trash") << 1 << QStringLiteral("转码完成后，自动将原始照片移入回收站。") << true;
        QTest::newRow("delete") << 2 << QStringLiteral("转码完成后，直接彻底删除原始照片。") << true;
    }

    // The explanation follows the choice at once; disposing of originals shows verification on and locked.
    void deleteStrategies()
    {
        QFETCH(int, strategy);
        QFETCH(bool, locked);
        openWindow();
        QWidget *general = page(SettingsWindow::Tab::general);
        QCOMPARE(visibleTexts<QRadioButton>(general),
                 (QStringList{QStringLiteral("保留原始照片"), QStringLiteral("移至回收站"), QStringLiteral("永久删除")}));
        clickToggle(general->findChildren<QRadioButton *>().at(strategy));
        QCOMPARE(static_cast<int>(m_settings->settings().deleteStrategy), strategy);
        QFETCH(QString, description);
        QVERIFY(visibleTexts<QLabel>(general).contains(description));
        QCOMPARE(visibleTexts<QLabel>(general).contains(QStringLiteral("移走或删除原文件之前总会先验证，此时无法关闭。")), locked);
        auto *verify = byText<QCheckBox>(general, QStringLiteral("始终验证无损转换"));
        QVERIFY(verify);
        QCOMPARE(verify->isChecked(), locked);
        QCOMPARE(verify->isEnabled(), !locked);
        if (!locked) {
            clickToggle(verify);
            QVERIFY(m_settings->settings().verifyLossless);
        }
        QCOMPARE(m_settings->settings().verifyLossless, !locked); // locked shows on without writing it

        auto *sound = byText<QCheckBox>(general, QStringLiteral("完成批处理时播放提示音"));
        QVERIFY(sound->isChecked());
        clickToggle(sound);
        QVERIFY(!m_settings->settings().soundFeedbackEnabled);
    }

    // A path typed or chosen is stored and probed at once; the line under it says what was found.
    // The about page names the application once; Escape closes the window from any page.
    void aboutNamesTheApplicationOnceAndEscapeCloses_data()
    {
        QTest::addColumn<QString>("version"); // the version line, one language to it
        QTest::newRow("Chinese") << QStringLiteral("版本 %1（构建 %2）");
        QTest::newRow("English") << QStringLiteral("Version %1 (build %2)");
    }

    void aboutNamesTheApplicationOnceAndEscapeCloses()
    {
        QFETCH(QString, version);
        openWindow();
        m_window->showTab(SettingsWindow::Tab::about);
        QStringList names;
        for (const QLabel *label : page(SettingsWindow::Tab::about)->findChildren<QLabel *>()) {
            if (label->text().contains(QLatin1String("Pikora")) && label->isVisibleTo(m_window.get()))
                names.append(label->text());
        }
        QCOMPARE(names.count(QStringLiteral("Pikora")), 1);
        const QStringList texts = visibleTexts<QLabel>(page(SettingsWindow::Tab::about));
        QVERIFY2(texts.contains(version.arg(UpdateManager::currentAppVersion(), UpdateManager::currentBuildNumber())), qPrintable(texts.join(u'|')));
        QCOMPARE(LayoutCheck::clippedTexts(page(SettingsWindow::Tab::about)), QStringList());
        Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + QStringLiteral("settings-about-name"));
        QTest::keyClick(m_window->tabs()->tabBar(), Qt::Key_Escape);
        QVERIFY(!m_window->isVisible());
        m_window->show();
        m_window->showToolPath(QStringLiteral("djxl"));
        QCOMPARE(m_window->tabs()->currentIndex(), int(SettingsWindow::Tab::general));
        QCOMPARE(m_window->focusWidget(), page(SettingsWindow::Tab::general)->findChild<QWidget *>(QStringLiteral("toolPath-djxl")));
        QTest::keyClick(m_window->focusWidget(), Qt::Key_Escape);
        QVERIFY(!m_window->isVisible());
    }

    void toolPaths()
    {
        const QString fake = TestEnv::writeScript(m_root.filePath(QStringLiteral("tools/my cjxl")),
                                                  "echo 'cjxl v9.8.7 [AVX2]'\necho 'Copyright'\n");
        const QString installed = TestEnv::installedTool(QStringLiteral("cjxl"));
        openWindow();
        QWidget *general = page(SettingsWindow::Tab::general);
        QLineEdit *field = general->findChildren<QLineEdit *>().at(0);
        QCOMPARE(field->placeholderText(), QStringLiteral("自动查找"));
        if (!installed.isEmpty())
            QTRY_VERIFY(labelStartingWith(general, QStringLiteral("已找到：%1（v").arg(installed)));

        const auto enter = [&](const QString &path) {
            field->setFocus();
            field->selectAll();
            QTest::keyClicks(field, path);
            QTest::keyClick(field, Qt::Key_Return);
        };
        enter(fake);
        QCOMPARE(m_settings->settings().customCjxlPath, fake);
        QTRY_VERIFY(labelStartingWith(general, QStringLiteral("已找到：%1（v9.8.7）").arg(fake)));
        QCOMPARE(m_tools->cjxlPath(), fake);

        const QString notRunnable = m_root.filePath(QStringLiteral("tools"));
        enter(notRunnable);
        QCOMPARE(m_settings->settings().customCjxlPath, notRunnable);
        if (!installed.isEmpty())
            QTRY_VERIFY(labelStartingWith(general, QStringLiteral("所填路径不是可执行文件，已改用：%1（v").arg(installed)));

        field->clear();
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY(m_settings->settings().customCjxlPath.isEmpty());
        QTRY_VERIFY(installed.isEmpty() ? labelStartingWith(general, ToolStatus::notInstalledText())
                                        : labelStartingWith(general, QStringLiteral("已找到：%1").arg(installed)));
    }

    // Add and remove through the page, in the temporary home; the label and button follow.
    void integrationRoundTrip_data()
    {
        QTest::addColumn<QStringList>("texts"); // add, remove, not installed, installed
        QTest::newRow("Chinese") << QStringList{QStringLiteral("添加至文件管理器…"), QStringLiteral("移除快捷操作"),
                                                QStringLiteral("未安装"), QStringLiteral("已安装")};
        QTest::newRow("English") << QStringList{QStringLiteral("Add to File Manager…"), QStringLiteral("Remove Actions"),
                                                QStringLiteral("Not installed"), QStringLiteral("Installed")};
    }

    void integrationRoundTrip()
    {
        QFETCH(QStringList, texts);
        openWindow();
        m_window->showTab(SettingsWindow::Tab::integration);
        QWidget *integration = page(SettingsWindow::Tab::integration);
        QVERIFY(visibleTexts<QLabel>(integration).contains(QStringLiteral("pikora://import?path=/home/name/Photos/DSC_0001.JPG")));
        QVERIFY(visibleTexts<QLabel>(integration).contains(texts.at(2)));
        QTest::mouseClick(byText<QPushButton>(integration, texts.at(0)), Qt::LeftButton);
        QVERIFY(m_fileManagerActions->isInstalled());
        for (const QString &path : QuickActionInstaller::installedPaths(QuickActionInstaller::locations()))
            QVERIFY2(path.startsWith(m_root.path()) && QFile::exists(path), qPrintable(path));
        QVERIFY(visibleTexts<QLabel>(integration).contains(texts.at(3)));
        QCOMPARE(LayoutCheck::clippedTexts(integration), QStringList());
        Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + QStringLiteral("settings-integration-installed"));

        QPushButton *remove = byText<QPushButton>(integration, texts.at(1));
        QTest::mouseClick(remove, Qt::LeftButton);
        if (auto *box = integration->findChild<QMessageBox *>())
            QFAIL(qPrintable(box->informativeText()));
        QVERIFY(!m_fileManagerActions->isInstalled());
        QVERIFY(!QuickActionInstaller::isInstalled());
        QVERIFY(byText<QPushButton>(integration, texts.at(0)));
    }

    // A failed install says why in a message box, and the page stays as it was.
    void failedInstallShowsReason_data()
    {
        QTest::addColumn<QStringList>("texts"); // add, the box's text, the reason's start, not installed
        QTest::newRow("Chinese") << QStringList{QStringLiteral("添加至文件管理器…"), QStringLiteral("无法添加文件管理器快捷操作"),
                                                QStringLiteral("无法创建文件夹“"), QStringLiteral("未安装")};
        QTest::newRow("English") << QStringList{QStringLiteral("Add to File Manager…"), QStringLiteral("Could not add the file manager actions"),
                                                QStringLiteral("Cannot create folder “"), QStringLiteral("Not installed")};
    }

    void failedInstallShowsReason()
    {
        QFETCH(QStringList, texts);
        const QString blocker = QuickActionInstaller::locations().dataHome + QStringLiteral("/nautilus");
        QDir(blocker).removeRecursively();
        TestEnv::writeAll(blocker, "not a folder");
        openWindow();
        m_window->showTab(SettingsWindow::Tab::integration);
        QWidget *integration = page(SettingsWindow::Tab::integration);
        QTest::mouseClick(byText<QPushButton>(integration, texts.at(0)), Qt::LeftButton);
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = integration->findChild<QMessageBox *>()) && box->isVisible());
        QCOMPARE(box->text(), texts.at(1));
        QVERIFY2(box->informativeText().startsWith(texts.at(2) + blocker), qPrintable(box->informativeText()));
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))->textFormat(), Qt::PlainText);
        QCOMPARE(LayoutCheck::clippedTexts(box), QStringList());
        Screenshots::save(box, EnglishTexts::screensFolder() + QStringLiteral("settings-integration-failed"));
        box->accept();
        QVERIFY(!m_fileManagerActions->isInstalled());
        QVERIFY(visibleTexts<QLabel>(integration).contains(texts.at(3)));
        QVERIFY(QFile::remove(blocker));
    }
};

QTEST_MAIN(TestUiSettings)
#include "tst_ui_settings.moc"
