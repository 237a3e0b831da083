#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/launcherprogress.h"
#include "app/importservice.h"
#include "app/lifetimestats.h"
#include "app/notificationmanager.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "app/tasktablemodel.h"
#include "fakedesktop.h"
#include "integration/updatemanager.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "platform/uilanguage.h"
#include "englishtexts.h"
#include "layoutcheck.h"
#include "screenshots.h"
#include "testenv.h"
#include "ui/actionisland.h"
#include "ui/appactions.h"
#include "ui/chromebar.h"
#include "ui/emptycanvas.h"
#include "ui/taskrowactions.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasktableview.h"
#include "ui/updatesheet.h"
#include "ui/maintoolbar.h"
#include "ui/mainwindow.h"
#include "ui/modeswitch.h"
#include "ui/previewwindow.h"
#include "ui/progressstrip.h"
#include "ui/settingswindow.h"
#include "ui/statspopup.h"
#include "ui/statusisland.h"
#include "ui/tasktableview.h"
#include "ui/updatesheet.h"
#include "ui/windowstate.h"

#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabWidget>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(CommandFacts)
Q_DECLARE_METATYPE(StatusFacts)
Q_DECLARE_METATYPE(StatusIsland::Face)

namespace {

QStringList list(std::initializer_list<const char *> words)
{
    QStringList out;
    for (const char *word : words)
        out.append(QString::fromUtf8(word));
    return out;
}

TaskItem task(ConversionMode mode, TaskStatus status, qint64 original, std::optional<qint64> result = std::nullopt)
{
    TaskItem item;
    item.sourceURL = QUrl::fromLocalFile(QStringLiteral("/photos/%1.%2")
                                             .arg(original)
                                             .arg(mode == ConversionMode::jpegToJXL ? QStringLiteral("jpg") : QStringLiteral("jxl")));
    item.mode = mode;
    item.status = status;
    item.originalSize = original;
    item.compressedSize = result;
    return item;
}

// Twelve photos to compress, the first three done.
QList<TaskItem> twelveTasks()
{
    QList<TaskItem> tasks;
    for (int i = 0; i < 12; ++i)
        tasks.append(task(ConversionMode::jpegToJXL, i < 3 ? TaskStatus::completed : TaskStatus::pending,
                          2'400'000 + i, i < 3 ? std::optional<qint64>(1'800'000) : std::nullopt));
    return tasks;
}

} // namespace

// The main window without the table and canvas themselves: menus and their rules, toolbar,
// chrome bar, progress strip, statistics panel, window icon, and closing during a batch.
class TestUiWindow final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    std::unique_ptr<LauncherProgress> m_launcher;
    std::unique_ptr<NotificationManager> m_notifications;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<UpdateManager> m_updates;
    std::unique_ptr<MainWindow> m_window;
    std::optional<EnglishTexts> m_english;

    // The window over a new state, showing direction (as `pikora --restore` would).
    void open(ConversionMode direction = ConversionMode::jpegToJXL)
    {
        m_window.reset();
        m_state = std::make_unique<AppState>(BatchFeedback::Devices{});
        QVERIFY(QTest::qWaitFor([&] { return !m_state->tools()->cjxlPath().isEmpty(); }, 30000));
        m_state->workspace()->switchMode(direction);
        m_updates = std::make_unique<UpdateManager>();
        m_window = std::make_unique<MainWindow>(m_state.get(), m_updates.get(), m_notifications.get(), m_launcher.get());
        m_window->resize(860, 560);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    AppActions *actions() const { return m_window->actions(); }
    StatusIsland *island() const { return m_window->chromeBar()->statusIsland(); }

    // Lists tasks to compress; true once the table shows them under its chrome bar.
    bool showTasks(const QList<TaskItem> &tasks)
    {
        m_state->workspace()->compressTasks()->append(tasks);
        return QTest::qWaitFor([&] {
            return m_window->currentPage() == static_cast<QWidget *>(m_window->table()) && m_window->chromeBar()->isVisible();
        });
    }

    // Marks a listed task as failed by cjxl; returns it as listed now.
    TaskItem fail(TaskItem item)
    {
        item.status = TaskStatus::failed;
        item.errorMessage = u"cjxl failed"_s;
        m_state->workspace()->compressTasks()->replace(item);
        return item;
    }

    // Switches the state to encoder (a fake cjxl) and lists the photos of folder.
    void useEncoderAndImport(const QString &encoder, const QString &folder)
    {
        AppSettings settings = m_state->settings()->settings();
        settings.customCjxlPath = encoder;
        m_state->settings()->setSettings(settings);
        m_state->tools()->probe();
        QTRY_COMPARE(m_state->tools()->cjxlPath(), encoder);
        QSignalSpy imported(m_state->imports(), &ImportService::importFinished);
        m_state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        QVERIFY(imported.wait(30000));
    }

    static QStringList actionTexts(const QMenu *menu)
    {
        QStringList texts;
        for (const QAction *action : menu->actions())
            texts.append(action->isSeparator() ? u"---"_s : action->text());
        return texts;
    }

    // Menu titles and items without a mnemonic of their own: Alt and the letter open a title's
    // menu, the letter alone picks an item in its menu.
    static QStringList mnemonicProblems(const QMenuBar *bar)
    {
        QStringList problems;
        const auto check = [&](const QList<QAction *> &actions) {
            QStringList keys;
            for (const QAction *action : actions) {
                if (action->isSeparator())
                    continue;
                const QString key = QKeySequence::mnemonic(action->text()).toString();
                if (key.isEmpty() || keys.contains(key))
                    problems.append(action->text());
                keys.append(key);
            }
        };
        check(bar->actions());
        for (const QAction *menu : bar->actions())
            check(menu->menu()->actions());
        return problems;
    }

    // Alt+F opens the File menu (pictured as name) and its I the photo dialog, which is closed again.
    void altFOpensTheFileMenu(const QString &name)
    {
        QMenu *file = m_window->menuBar()->actions().at(1)->menu();
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(file->isVisible());
        Screenshots::save(file, name);
        QTest::keyClick(file, Qt::Key_I);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()));
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        dialog->reject();
        QTRY_VERIFY(!openDialog());
    }

    // The window's open dialog while one shows.
    QFileDialog *openDialog() const
    {
        for (QFileDialog *dialog : m_window->findChildren<QFileDialog *>()) {
            if (dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }

    static QPushButton *acceptButton(const QFileDialog *dialog)
    {
        const auto *buttons = dialog->findChild<QDialogButtonBox *>();
        return buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
    }

    // Types text into the shown dialog's name field and presses Enter, as a user does.
    static void typeAndEnter(QFileDialog *dialog, const QString &text)
    {
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        QVERIFY(name);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        name->setFocus(); // unfocused, the dialog rewrites it with what its list selects
        QTest::keyClicks(name, text);
        QTest::keyClick(name, Qt::Key_Return);
    }

    QStringList listedNames() const
    {
        QStringList names;
        const TaskList *tasks = m_state->workspace()->compressTasks();
        for (qsizetype i = 0; i < tasks->size(); ++i)
            names.append(tasks->at(i).fileName());
        names.sort();
        return names;
    }

    // Imports one photo into a folder of its own and asks the table to show it in the file
    // manager while xdg-open fails (the suite's private bus has no file manager on it); the box
    // that says so, once it shows, or nothing.
    QMessageBox *revealWithoutFileManager(const QString &name)
    {
        const QString folder = m_root.filePath(name);
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, u"a.jpg"_s);
        QSignalSpy imported(m_state->imports(), &ImportService::importFinished);
        m_state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        if (!imported.wait(30000))
            return nullptr;
        const QString bin = m_root.filePath(name + u"-opener"_s);
        TestEnv::writeScript(bin + u"/xdg-open"_s, "exit 3");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + path);
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        auto *table = m_window->findChild<TaskTableView *>();
        if (!QTest::qWaitFor([&] { return !table->taskIdAt(0).isNull(); }, 30000))
            return nullptr;
        table->rowActions()->reveal(table->taskIdAt(0));
        QMessageBox *box = nullptr;
        if (!QTest::qWaitFor([&] { return (box = m_window->findChild<QMessageBox *>()) && box->isVisible(); }, 30000))
            return nullptr;
        return box;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
        m_launcher = std::make_unique<LauncherProgress>();
        m_notifications = std::make_unique<NotificationManager>();
    }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        open();
    }

    void cleanup()
    {
        m_window.reset();
        m_updates.reset();
        m_state.reset();
        m_english.reset(); // after the widgets that show its texts
        // The next case starts with the tools found, not a fake encoder of this one.
        Preferences().remove(SettingsStore::settingsKey);
        Preferences().remove(SettingsStore::outputFolderKey);
    }

    void menus()
    {
        QCOMPARE(m_window->windowTitle(), u"Pikora"_s);
        QStringList titles;
        for (const QAction *menu : m_window->menuBar()->actions())
            titles.append(menu->text());
        QCOMPARE(titles, list({"&Pikora", "文件(&F)", "编辑(&E)", "显示(&V)", "任务(&T)"}));
        const QList<QAction *> menus = m_window->menuBar()->actions();
        QCOMPARE(actionTexts(menus.at(4)->menu()), list({"开始压缩(&S)", "停止处理(&T)", "---", "重新尝试失败项目(&R)"}));
        // Buttons and tooltips show the texts without the mnemonic.
        QCOMPARE(actions()->start->iconText(), u"开始压缩"_s);
        QCOMPARE(actions()->stop->toolTip(), u"停止处理"_s);

        // Each shortcut once: Qt fires neither of two actions that share one.
        QStringList shortcuts;
        for (const QAction *action : actions()->all()) {
            for (const QKeySequence &key : action->shortcuts())
                shortcuts.append(key.toString());
        }
        QStringList unique = shortcuts;
        unique.removeDuplicates();
        QCOMPARE(shortcuts.size(), unique.size());
        QCOMPARE(shortcuts, list({"Ctrl+,", "Ctrl+Q", "Ctrl+O", "Ctrl+Alt+O", "Ctrl+K", "Ctrl+A", "Del", "Space",
                                  "Ctrl+1", "Ctrl+2", "Ctrl+Alt+I", "Ctrl+Return", "Ctrl+Enter", "Ctrl+.",
                                  "Ctrl+Shift+R"}));
        // Space and Delete reach only the table (it has the focus they act in), never the window.
        QCOMPARE(actions()->preview->shortcutContext(), Qt::WidgetShortcut);
        QCOMPARE(actions()->removeSelected->shortcutContext(), Qt::WidgetShortcut);
        QVERIFY(!m_window->actions()->preview->associatedObjects().contains(m_window.get()));
        QCOMPARE(actions()->clearList->toolTip(), u"清空列表 (Ctrl+K)"_s);

        // F10 opens the first menu for keyboard users.
        QTest::keyClick(m_window.get(), Qt::Key_F10);
        QTRY_VERIFY(menus.at(0)->menu()->isVisible());
        menus.at(0)->menu()->close();
    }

    // The menus' import commands by their shortcuts, as a user takes them: the folder or several
    // photos typed, Enter; the list then holds what was chosen and nothing else. Qt's own texts
    // in the dialog speak the window's language. (The empty page's buttons: ui_table.)
    void importDialogs_data()
    {
        QTest::addColumn<bool>("photos");
        QTest::newRow("Ctrl+O") << true;
        QTest::newRow("Ctrl+Alt+O") << false;
    }

    void importDialogs()
    {
        QFETCH(bool, photos);
        UiLanguage::install(qApp); // as the window's program does: Qt's texts in Chinese here
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange); // before the dialog, as there
        const auto removeTranslations =
            qScopeGuard([] { qDeleteAll(qApp->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly)); });
        QTemporaryDir root(m_root.filePath(u"dialog-XXXXXX"_s));
        const QString folder = root.filePath(u"photos"_s);
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, QString::fromLatin1(name));

        QTest::keyClick(m_window.get(), Qt::Key_O, photos ? Qt::ControlModifier : Qt::ControlModifier | Qt::AltModifier);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()));
        QCOMPARE(dialog->windowTitle(), photos ? u"选择照片…"_s : u"选择文件夹…"_s);
        QCOMPARE(acceptButton(dialog)->text(), u"导入"_s);
        QCOMPARE(dialog->findChild<QLabel *>(u"lookInLabel"_s)->text(), u"查找范围："_s);
        Screenshots::save(dialog, photos ? u"import-dialog-photos"_s : u"import-dialog-folder"_s);
        typeAndEnter(dialog, folder);
        if (photos) {
            QVERIFY(dialog->isVisible()); // a folder typed into the photo dialog opens
            typeAndEnter(dialog, u"\"a.jpg\" \"c.jpg\""_s);
        }
        QTRY_VERIFY(!openDialog());
        QTRY_COMPARE(listedNames(), photos ? list({"a.jpg", "c.jpg"}) : list({"a.jpg", "b.jpg", "c.jpg"}));
    }

    void rules_data()
    {
        QTest::addColumn<CommandFacts>("facts");
        QTest::addColumn<QStringList>("enabled"); // the ruled commands that are enabled

        CommandFacts empty;
        empty.toolReady = true;
        QTest::newRow("empty list") << empty << QStringList{};
        CommandFacts listed = empty;
        listed.listEmpty = false;
        QTest::newRow("idle list") << listed << list({"清空列表", "全选", "开始压缩"});
        CommandFacts selected = listed;
        selected.hasSelection = true;
        QTest::newRow("selection") << selected
                                   << list({"清空列表", "全选", "从列表中移除", "快速查看…", "开始压缩"});
        CommandFacts failed = listed;
        failed.failedCount = 2;
        failed.mode = ConversionMode::jxlToJPEG;
        QTest::newRow("failures, restoring") << failed << list({"清空列表", "全选", "还原照片", "重新尝试失败项目"});
        CommandFacts noTool = failed;
        noTool.toolReady = false;
        QTest::newRow("failures, tool missing") << noTool << list({"清空列表", "全选"});
        CommandFacts running = failed;
        running.processing = true;
        running.hasSelection = true;
        QTest::newRow("batch running") << running << list({"全选", "从列表中移除", "快速查看…", "停止处理"});
        CommandFacts runningElsewhere = empty;
        runningElsewhere.processing = true;
        QTest::newRow("batch running, shown list empty") << runningElsewhere << list({"停止处理"});
    }

    void rules()
    {
        QFETCH(CommandFacts, facts);
        QFETCH(QStringList, enabled);
        actions()->apply(facts);
        QStringList actual;
        for (QAction *action : {actions()->clearList, actions()->selectAll, actions()->removeSelected,
                                actions()->preview, actions()->start, actions()->stop, actions()->retryFailed}) {
            if (action->isEnabled())
                actual.append(action->text().remove(QRegularExpression(u"\\(&.\\)"_s))); // the mnemonic aside
        }
        QCOMPARE(actual, enabled);
        // The commands without a rule never grey out.
        for (QAction *action : {actions()->about, actions()->checkForUpdates, actions()->preferences, actions()->quit,
                                actions()->importPhotos, actions()->importFolder, actions()->compressMode,
                                actions()->restoreMode, actions()->statistics})
            QVERIFY2(action->isEnabled(), qPrintable(action->text()));
    }

    // The same rules, fed by the services' own signals (workspace, batch, tools).
    void rulesFollowTheState()
    {
        QVERIFY(!actions()->start->isEnabled());
        m_state->workspace()->compressTasks()->append({task(ConversionMode::jpegToJXL, TaskStatus::failed, 1000)});
        QVERIFY(actions()->start->isEnabled() && actions()->retryFailed->isEnabled());
        QCOMPARE(actions()->retryFailed->iconText(), u"重试 1 项"_s);
        QVERIFY(!actions()->removeSelected->isEnabled());
        actions()->selectAll->trigger();
        QVERIFY(actions()->removeSelected->isEnabled() && actions()->preview->isEnabled());

        m_state->workspace()->switchMode(ConversionMode::jxlToJPEG);
        QCOMPARE(actions()->start->iconText(), u"还原照片"_s);
        QCOMPARE(m_window->windowTitle(), u"Pikora"_s);
        QVERIFY(!actions()->start->isEnabled() && !actions()->removeSelected->isEnabled());
        QVERIFY(actions()->restoreMode->isChecked() && !actions()->compressMode->isChecked());
        actions()->compressMode->trigger();
        QCOMPARE(m_state->workspace()->activeMode(), ConversionMode::jpegToJXL);
        QCOMPARE(actions()->start->iconText(), u"开始压缩"_s);
    }

    void modeSwitch()
    {
        TaskItem listed = task(ConversionMode::jpegToJXL, TaskStatus::pending, 10);
        m_state->workspace()->compressTasks()->append({listed});
        m_state->workspace()->selectAllTasks();
        ModeSwitch *modes = m_window->mainToolBar()->modeSwitch();
        QCOMPARE(modes->segment(0)->accessibleName().isEmpty() ? modes->segment(0)->text() : modes->segment(0)->accessibleName(),
                 u"压缩照片"_s);
        QCOMPARE(modes->segment(1)->toolTip(), u"还原照片\n将 JXL 精确还原为 JPEG"_s);
        QVERIFY(modes->segment(0)->isChecked());

        QTest::mouseClick(modes->segment(1), Qt::LeftButton);
        QCOMPARE(m_state->workspace()->activeMode(), ConversionMode::jxlToJPEG);
        QVERIFY(m_state->workspace()->selectedTaskIds().isEmpty());

        // Following the state moves the check mark and calls nothing back.
        QSignalSpy modeChanges(m_state->workspace(), &Workspace::activeModeChanged);
        m_state->workspace()->switchMode(ConversionMode::jpegToJXL);
        QVERIFY(modes->segment(0)->isChecked() && !modes->segment(1)->isChecked());
        QCOMPARE(modeChanges.size(), 1);
    }

    // The quick look command previews the selected job of the shown list, and nothing for a
    // selection of the other list.
    void previewShowsTheSelection()
    {
        const TaskItem shown = task(ConversionMode::jpegToJXL, TaskStatus::pending, 21);
        TaskItem other = task(ConversionMode::jxlToJPEG, TaskStatus::pending, 22);
        m_state->workspace()->compressTasks()->append({shown});
        m_state->workspace()->restoreTasks()->append({other});
        WindowState *view = m_window->windowState();
        m_state->workspace()->setSelectedTaskIds({other.id}); // not in the shown list
        actions()->preview->trigger();
        QVERIFY(!view->previewItemURL());
        m_state->workspace()->setSelectedTaskIds({shown.id});
        actions()->preview->trigger();
        QCOMPARE(view->previewItemURL(), std::optional<QUrl>(shown.sourceURL));
        view->setPreviewItemURL(std::nullopt);
    }

    // Space and Delete act on the table while it has focus, and nowhere else.
    void spaceAndDeleteBelongToTheTable()
    {
        m_state->workspace()->compressTasks()->append({task(ConversionMode::jpegToJXL, TaskStatus::pending, 10),
                                          task(ConversionMode::jpegToJXL, TaskStatus::pending, 11)});
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(m_window->table()));
        m_state->workspace()->selectAllTasks();
        QToolButton *elsewhere = m_window->mainToolBar()->buttons().constLast();
        elsewhere->setFocus();
        QTest::keyClick(elsewhere, Qt::Key_Delete);
        QCOMPARE(m_state->workspace()->compressTasks()->size(), qsizetype(2));

        m_window->table()->setFocus();
        QTest::keyClick(m_window->table(), Qt::Key_Space);
        QVERIFY(m_window->windowState()->previewItemURL().has_value());
        m_window->windowState()->setPreviewItemURL(std::nullopt);
        QTest::keyClick(m_window->table(), Qt::Key_Delete);
        QVERIFY(m_state->workspace()->compressTasks()->isEmpty());
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(m_window->canvas()));
    }

    // One settings window, however it is asked for, over the middle of the window wherever that
    // is; the about command shows its about page; the update sheet follows the manager's flag,
    // over the window. The preview too opens over the middle, and stays there sized to its photo.
    void secondaryWindows()
    {
        m_window->move(40, 30);
        const auto centredOverWindow = [this](const QWidget *other) {
            return (other->frameGeometry().center() - m_window->frameGeometry().center()).manhattanLength() <= 4;
        };
        actions()->preferences->trigger();
        auto *settings = m_window->findChild<SettingsWindow *>();
        QVERIFY(settings && settings->isVisible());
        QVERIFY2(centredOverWindow(settings), qPrintable(u"%1,%2"_s.arg(settings->x()).arg(settings->y())));
        QTest::mouseClick(m_window->mainToolBar()->buttons().constLast(), Qt::LeftButton);
        m_window->windowState()->openSettings();
        actions()->about->trigger();
        QCOMPARE(m_window->findChildren<SettingsWindow *>().size(), 1);
        QCOMPARE(settings->tabs()->currentIndex(), settings->tabs()->count() - 1);

        Q_EMIT m_updates->updateFound();
        auto *sheet = m_window->findChild<UpdateSheet *>();
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        sheet->reject();
        QVERIFY(!m_window->windowState()->showUpdateSheet());
        m_window->windowState()->setShowUpdateSheet(true);
        QTRY_COMPARE(m_window->findChildren<UpdateSheet *>().size(), 1);
        m_window->windowState()->setShowUpdateSheet(false);
        QTRY_VERIFY(m_window->findChildren<UpdateSheet *>().isEmpty());

        const QString photo = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_root.filePath(u"preview"_s));
        auto *preview = m_window->findChild<PreviewWindow *>();
        QVERIFY(preview);
        QSignalSpy loaded(preview, &PreviewWindow::loaded);
        m_window->windowState()->setPreviewItemURL(QUrl::fromLocalFile(photo));
        QVERIFY(preview->isVisible());
        QVERIFY(centredOverWindow(preview));
        QVERIFY(!loaded.isEmpty() || loaded.wait(30000));
        QVERIFY(centredOverWindow(preview)); // sized to the photo, still over the middle
        m_window->windowState()->setPreviewItemURL(std::nullopt);
    }

    // Tab goes through the window as it reads: toolbar, table, then the islands.
    void tabFollowsReadingOrder()
    {
        const QString folder = m_root.filePath(u"taborder"_s);
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, u"a.jpg"_s);
        QSignalSpy imported(m_state->imports(), &ImportService::importFinished);
        m_state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        QVERIFY(imported.wait(30000));
        QTRY_VERIFY(m_window->findChild<TaskTableView *>()->isVisible());
        QToolButton *first = m_window->mainToolBar()->buttons().constFirst();
        first->setFocus(Qt::TabFocusReason);
        QList<QWidget *> order{first};
        for (int step = 0; step < 40; ++step) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : m_window.get(), Qt::Key_Tab);
            QWidget *now = QApplication::focusWidget();
            if (!now || now == first)
                break;
            order.append(now);
        }
        const auto place = [&order](const QWidget *widget) { return order.indexOf(const_cast<QWidget *>(widget)); };
        const qsizetype table = place(m_window->findChild<TaskTableView *>());
        const qsizetype clear = place(island()->clearButton());
        const qsizetype start = place(m_window->chromeBar()->actionIsland()->button());
        QStringList seen;
        for (const QWidget *widget : order)
            seen.append(QString::fromLatin1(widget->metaObject()->className()));
        QVERIFY2(table > 0 && clear > table && start > clear, qPrintable(seen.join(u' ')));
        for (QToolButton *button : m_window->mainToolBar()->buttons())
            QVERIFY2(place(button) >= 0 && place(button) < table, qPrintable(seen.join(u' ')));
    }

    // At a high scale factor on a small screen the window must still fit it; checked in a run of
    // this suite with QT_SCALE_FACTOR set, which takes effect only at start.
    void minimumSizeFitsTheScreen()
    {
        if (qEnvironmentVariableIsSet("PIKORA_SCALED_RUN")) {
            const QSize room = m_window->screen()->availableSize();
            const QString sizes = u"minimum %1×%2, window %3×%4, screen %5×%6"_s.arg(m_window->minimumWidth())
                                      .arg(m_window->minimumHeight()).arg(m_window->width()).arg(m_window->height())
                                      .arg(room.width()).arg(room.height());
            QVERIFY2(m_window->minimumWidth() <= room.width() && m_window->minimumHeight() <= room.height(), qPrintable(sizes));
            MainWindow fresh(m_state.get(), m_updates.get(), m_notifications.get(), m_launcher.get());
            QVERIFY2(fresh.width() <= room.width() && fresh.height() <= room.height(), qPrintable(sizes));
            return;
        }
        QProcess scaled;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_SCALE_FACTOR"_s, u"2"_s);
        environment.insert(u"PIKORA_SCALED_RUN"_s, u"1"_s);
        scaled.setProcessEnvironment(environment);
        scaled.setProcessChannelMode(QProcess::MergedChannels);
        scaled.start(QCoreApplication::applicationFilePath(), {u"minimumSizeFitsTheScreen"_s});
        QVERIFY(scaled.waitForFinished(120000));
        QVERIFY2(scaled.exitStatus() == QProcess::NormalExit && scaled.exitCode() == 0, scaled.readAll().constData());
    }

    void remainingTime_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << u"不到 1 分钟"_s;
        QTest::newRow("59") << qint64(59) << u"不到 1 分钟"_s;
        QTest::newRow("60") << qint64(60) << u"约 1 分钟"_s;
        QTest::newRow("61 rounds up") << qint64(61) << u"约 2 分钟"_s;
        QTest::newRow("an hour") << qint64(3600) << u"约 1 小时"_s;
        QTest::newRow("hour and a bit") << qint64(3661) << u"约 1 小时 2 分钟"_s;
    }

    void remainingTime()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(remainingTimeText(seconds), text);
    }

    void chromeBar_data()
    {
        QTest::addColumn<StatusFacts>("facts");
        QTest::addColumn<bool>("barShown");
        QTest::addColumn<StatusIsland::Face>("face");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QString>("button"); // the action island's command, empty when hidden

        StatusFacts empty;
        QTest::newRow("empty, idle") << empty << false << StatusIsland::Face::idle << QStringList() << QString();
        StatusFacts noCjxl = empty;
        noCjxl.toolReady = false;
        QTest::newRow("cjxl missing, empty list") << noCjxl << true << StatusIsland::Face::toolMissing
                                                  << list({"未检测到 cjxl 编码器"}) << QString();
        StatusFacts noDjxl = noCjxl;
        noDjxl.mode = ConversionMode::jxlToJPEG;
        noDjxl.count = 2;
        QTest::newRow("djxl missing") << noDjxl << true << StatusIsland::Face::toolMissing
                                      << list({"未检测到 djxl 解码器"}) << u"还原照片"_s;
        StatusFacts running;
        running.count = 12;
        running.batch = BatchFigures{true, 3, 12, std::nullopt};
        QTest::newRow("batch, no estimate yet") << running << true << StatusIsland::Face::processing << list({"3/12"})
                                                << u"停止处理"_s;
        StatusFacts estimated = running;
        estimated.batch.remainingSeconds = 100;
        QTest::newRow("batch with estimate") << estimated << true << StatusIsland::Face::processing
                                             << list({"3/12", "·", "约 2 分钟"}) << u"停止处理"_s;
        // The other direction is shown and empty: the batch's count and stop stay in view.
        StatusFacts elsewhere = estimated;
        elsewhere.count = 0;
        elsewhere.mode = ConversionMode::jxlToJPEG;
        elsewhere.toolReady = false;
        QTest::newRow("batch of the other direction") << elsewhere << true << StatusIsland::Face::processing
                                                      << list({"3/12", "·", "约 2 分钟"}) << u"停止处理"_s;
        StatusFacts idle;
        idle.count = 2;
        idle.totalSize = 1'200'000;
        idle.savedBytes = 300'000;
        idle.failedCount = 1;
        QTest::newRow("idle with savings and a failure")
            << idle << true << StatusIsland::Face::idle << list({"2 个项目", "·", "1.2 MB", "·", "已节省 300 KB", "重试 1 项"})
            << u"开始压缩"_s;
        StatusFacts nothingSaved = idle;
        nothingSaved.savedBytes = 0;
        nothingSaved.failedCount = 0;
        QTest::newRow("idle, nothing saved") << nothingSaved << true << StatusIsland::Face::idle
                                             << list({"2 个项目", "·", "1.2 MB"}) << u"开始压缩"_s;
        // A re-run: photos a former run had done are counted apart, while it runs and after.
        StatusFacts skippedRunning = estimated;
        skippedRunning.batch.skipped = 2;
        QTest::newRow("batch with skipped jobs") << skippedRunning << true << StatusIsland::Face::processing
                                                 << list({"3/12", "·", "约 2 分钟", "·", "已跳过 2 项"}) << u"停止处理"_s;
        StatusFacts skippedIdle = idle;
        skippedIdle.failedCount = 0;
        skippedIdle.skippedCount = 1;
        QTest::newRow("idle with skipped jobs")
            << skippedIdle << true << StatusIsland::Face::idle
            << list({"2 个项目", "·", "1.2 MB", "·", "已节省 300 KB", "·", "已跳过 1 项"}) << u"开始压缩"_s;
        StatusFacts restoring = idle;
        restoring.mode = ConversionMode::jxlToJPEG;
        restoring.failedCount = 0;
        QTest::newRow("restoring never shows savings") << restoring << true << StatusIsland::Face::idle
                                                       << list({"2 个项目", "·", "1.2 MB"}) << u"还原照片"_s;
    }

    void chromeBar()
    {
        QFETCH(StatusFacts, facts);
        QFETCH(bool, barShown);
        QFETCH(StatusIsland::Face, face);
        QFETCH(QStringList, texts);
        QFETCH(QString, button);

        CommandFacts commands;
        commands.mode = facts.mode;
        commands.listEmpty = facts.count == 0;
        commands.processing = facts.batch.running;
        commands.toolReady = facts.toolReady;
        commands.failedCount = facts.failedCount;
        actions()->apply(commands);
        ChromeBar *bar = m_window->chromeBar();
        bar->setFacts(facts);
        QCOMPARE(bar->isVisible(), barShown);
        QCOMPARE(island()->face(), face);
        QCOMPARE(island()->isVisible() ? island()->visibleTexts() : QStringList(), texts);
        IslandButton *action = bar->actionIsland()->button();
        QCOMPARE(bar->actionIsland()->isVisible() ? action->text() : QString(), button);
        if (!button.isEmpty()) {
            QCOMPARE(action->toolTip(), button);
            QCOMPARE(action->isEnabled(), facts.batch.running || facts.toolReady);
        }
        if (island()->retryButton()->isVisible())
            QCOMPARE(island()->retryButton()->toolTip(), u"重新尝试 1 个失败项目"_s);
        if (island()->clearButton()->isVisible())
            QCOMPARE(island()->clearButton()->toolTip(), u"清空列表 (Ctrl+K)"_s);
    }

    void statsFigures_data()
    {
        QTest::addColumn<qint64>("lifetime");
        QTest::addColumn<qint64>("photos");
        QTest::addColumn<QString>("estimate");
        QTest::addColumn<double>("average"); // below 0: none yet
        QTest::addColumn<QString>("averageText");
        const QString none = u"压缩照片即可释放储存空间"_s;
        QTest::newRow("nothing at all") << qint64(0) << qint64(0) << none << -1.0 << u"—"_s;
        QTest::newRow("one byte") << qint64(1) << qint64(1) << u"相当于多容纳约 1 张原始照片"_s << 25.04 << u"25.0%"_s;
        QTest::newRow("just under one photo") << qint64(3670015) << qint64(1) << u"相当于多容纳约 1 张原始照片"_s << 0.04
                                              << u"0.0%"_s;
        QTest::newRow("just under two photos") << qint64(7340031) << qint64(1) << u"相当于多容纳约 1 张原始照片"_s
                                               << 31.25 << u"31.3%"_s;
        QTest::newRow("two photos") << qint64(7340032) << qint64(2) << u"相当于多容纳约 2 张原始照片"_s << 100.0
                                    << u"100.0%"_s;
        QTest::newRow("negative counter") << qint64(-5) << qint64(0) << none << -1.0 << u"—"_s;
    }

    void statsFigures()
    {
        QFETCH(qint64, lifetime);
        QFETCH(qint64, photos);
        QFETCH(QString, estimate);
        QFETCH(double, average);
        QFETCH(QString, averageText);
        QCOMPARE(StatsFigures::estimatedSavedPhotosCount(lifetime), photos);
        QCOMPARE(StatsFigures::estimateText(lifetime), estimate);
        QCOMPARE(StatsFigures::averageReductionText(average < 0 ? std::nullopt : std::optional<double>(average)),
                 averageText);
    }

    void statsParts()
    {
        QCOMPARE(StatsFigures::formattedBytesParts(0), std::make_pair(u"0"_s, u"KB"_s));
        QCOMPARE(StatsFigures::formattedBytesParts(1'234'567), std::make_pair(u"1.2"_s, u"MB"_s));
    }

    void statsPopup()
    {
        StatsPopup *popup = m_window->statsPopup();
        QToolButton *button = m_window->mainToolBar()->statisticsButton();
        QVERIFY(!popup->isVisible());

        // From the menu command (or anything that sets the flag): opens under the button.
        actions()->statistics->trigger();
        QVERIFY(m_window->windowState()->showStatsSheet());
        QTRY_VERIFY(popup->isVisible());
        QVERIFY(popup->geometry().top() >= button->mapToGlobal(QPoint(0, button->height())).y());
        QVERIFY(actions()->statistics->isChecked());
        QCOMPARE(popup->texts(), list({"储存空间概览", "已节省储存空间", "0", "KB", "压缩照片即可释放储存空间",
                                       "100% 原始画质", "已压缩照片", "0 张", "历史累计", "平均缩减率", "—",
                                       "所有已压缩照片合计", "画质保证", "100% 无损", "完整保留色彩与拍摄信息"}));

        // The close button and Esc both clear the flag.
        QCOMPARE(popup->closeButton()->toolTip(), u"关闭 (Esc)"_s);
        QTest::mouseClick(popup->closeButton(), Qt::LeftButton);
        QVERIFY(!popup->isVisible());
        QVERIFY(!m_window->windowState()->showStatsSheet());
        QVERIFY(!actions()->statistics->isChecked());
        m_window->windowState()->setShowStatsSheet(true);
        QTRY_VERIFY(popup->isVisible());
        QTest::keyClick(popup, Qt::Key_Escape);
        QVERIFY(!popup->isVisible() && !m_window->windowState()->showStatsSheet());

        // The toolbar button opens it; a press on the same button closes it and does not reopen it.
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(popup->isVisible());
        const QPoint onButton = popup->mapFromGlobal(button->mapToGlobal(button->rect().center()));
        QTest::mousePress(popup, Qt::LeftButton, {}, onButton);
        QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
        QTest::qWait(50); // proves that the release does not open it again
        QVERIFY(!popup->isVisible());
        QVERIFY(!m_window->windowState()->showStatsSheet());

        // A press elsewhere closes it and clears the flag too.
        m_window->windowState()->setShowStatsSheet(true);
        QTRY_VERIFY(popup->isVisible());
        QTest::mouseClick(popup, Qt::LeftButton, {}, QPoint(-20, -20));
        QVERIFY(!popup->isVisible() && !m_window->windowState()->showStatsSheet());

        // With the window hidden it cannot open: the flag must not stay on.
        m_window->hide();
        m_window->windowState()->setShowStatsSheet(true);
        QVERIFY(!popup->isVisible());
        QVERIFY(!m_window->windowState()->showStatsSheet());
    }

    // A re-run's list: the photos a former run had done are counted apart by the island and the
    // statistics, and their outputs count as no saving of this run. The statistics are of all
    // time and say what they leave out, in either language.
    void skippedJobsCountApart_data()
    {
        QTest::addColumn<QStringList>("texts"); // the island's, then the popup's: what they leave out, what is counted
        QTest::addColumn<QString>("about");     // the estimate's "about", said once
        QTest::newRow("Chinese") << QStringList{u"已跳过 2 项"_s, u"历史累计，不含本次跳过的 2 张"_s, u"所有已压缩照片合计"_s}
                                 << u"约"_s;
        QTest::newRow("English") << QStringList{u"2 skipped"_s, u"All time; not counting 2 skipped this time"_s,
                                                u"Across all photos compressed"_s}
                                 << u"about "_s;
    }

    void skippedJobsCountApart()
    {
        QFETCH(QStringList, texts);
        QFETCH(QString, about);
        TaskItem converted = task(ConversionMode::jpegToJXL, TaskStatus::completed, 1000, 753);
        m_state->stats()->count(converted);
        QList<TaskItem> tasks{converted};
        for (int i = 0; i < 2; ++i)
            tasks.append(task(ConversionMode::jpegToJXL, TaskStatus::skipped, 2000 + i, 100));
        m_state->workspace()->compressTasks()->append(tasks);
        const StatusFacts facts = StatusFacts::of(*m_state->workspace(), *m_state->tools(), *m_state->runner());
        QCOMPARE(facts.skippedCount, 2);
        QCOMPARE(facts.savedBytes, 247);
        QTRY_VERIFY(island()->isVisible() && island()->visibleTexts().contains(texts.at(0)));

        m_window->windowState()->setShowStatsSheet(true);
        StatsPopup *popup = m_window->statsPopup();
        QTRY_VERIFY(popup->isVisible());
        const QStringList shown = popup->texts();
        const QString average = StatsFigures::averageReductionText(m_state->stats()->averageReduction());
        // "About" once: no tilde beside it, nor on any other figure.
        QVERIFY2(average.endsWith(u'%') && shown.contains(average) && shown.contains(texts.at(1)) && shown.contains(texts.at(2))
                     && shown.filter(about).size() == 1 && shown.filter(u"~"_s).isEmpty(),
                 qPrintable(shown.join(u'|')));
        QCOMPARE(LayoutCheck::clippedTexts(popup), QStringList());
        Screenshots::save(popup, EnglishTexts::screensFolder() + u"stats-popup-skipped"_s);
    }

    // The stored output folder has gone (its disk is not mounted): the start is refused with an
    // alert that names the folder, and nothing is made.
    void missingOutputFolderRefusesTheStart_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text"); // of the folder
        QTest::newRow("Chinese") << u"输出位置不可用"_s << u"输出文件夹不存在：%1。请连接它所在的磁盘，或在设置中另选输出位置。"_s;
        QTest::newRow("English") << u"Output location unavailable"_s
                                 << u"The output folder does not exist: %1. Connect the disk it is on, or choose another "
                                    "output location in the settings."_s;
    }

    void missingOutputFolderRefusesTheStart()
    {
        QFETCH(QString, title);
        QFETCH(QString, text);
        const QString gone = m_root.filePath(u"unplugged/Backup"_s);
        m_state->settings()->setOutputFolder(gone);
        m_state->workspace()->compressTasks()->append({task(ConversionMode::jpegToJXL, TaskStatus::pending, 1000)});
        m_state->runner()->startCurrentProcessing();
        QMessageBox *alert = nullptr;
        QTRY_VERIFY((alert = m_window->findChild<QMessageBox *>()) != nullptr);
        QCOMPARE(alert->windowTitle(), title);
        QCOMPARE(alert->text(), text.arg(gone));
        QCOMPARE(LayoutCheck::clippedTexts(alert), QStringList());
        Screenshots::save(alert, EnglishTexts::screensFolder() + u"output-folder-missing"_s);
        QVERIFY(!QFileInfo::exists(m_root.filePath(u"unplugged"_s)));
        QVERIFY(!m_state->runner()->isProcessing());
        alert->accept();
        QTRY_VERIFY(!m_state->runner()->diskWarningMessage());
        m_state->settings()->setOutputFolder(QString());
    }

    void windowIconFollowsTheLauncherProgress()
    {
        const QImage plain = m_window->windowIcon().pixmap(128, 128).toImage();
        m_launcher->update(3, 10);
        QVERIFY(m_window->windowIcon().pixmap(128, 128).toImage() != plain);
        m_launcher->reset();
        QCOMPARE(m_window->windowIcon().pixmap(128, 128).toImage(), plain);
    }

    // The window says whether it is active (no notification then) and withdraws that answer
    // before it goes: afterwards the application counts as inactive.
    void notificationsAskTheWindow()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (the suite runs under dbus-run-session)");
        QDBusConnection fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-desktop"_s);
        FakeDesktop desktop;
        QVERIFY(fake.registerVirtualObject(u"/"_s, &desktop, QDBusConnection::SubPath));
        QVERIFY(fake.registerService(u"org.freedesktop.Notifications"_s));
        const QList<QVariantList> &posted = desktop.calls[u"org.freedesktop.Notifications.Notify"_s];

        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_notifications->sendCompletionNotification(ConversionMode::jpegToJXL, 1, 10, 0);
        QTest::qWait(200); // proves that nothing is posted while the window is active
        QCOMPARE(posted.size(), 0);

        m_window.reset();
        m_notifications->sendCompletionNotification(ConversionMode::jpegToJXL, 1, 10, 0);
        QTRY_COMPARE(posted.size(), 1);
        fake.unregisterService(u"org.freedesktop.Notifications"_s);
        fake.unregisterObject(u"/"_s, QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(u"fake-desktop"_s);
    }

    // The islands float over the table's bottom edge: the last row still scrolls into view above
    // them, also beside the wider English islands.
    void lastRowClearsTheChromeBar_data()
    {
        QTest::addColumn<QString>("count"); // as the island says it
        QTest::newRow("Chinese") << u"60 个项目"_s;
        QTest::newRow("English") << u"60 items"_s;
    }

    void lastRowClearsTheChromeBar()
    {
        QList<TaskItem> tasks;
        for (int i = 0; i < 60; ++i)
            tasks.append(task(ConversionMode::jpegToJXL, TaskStatus::pending, 2'400'000 + i));
        QVERIFY(showTasks(tasks));
        QFETCH(QString, count);
        QTRY_COMPARE(island()->visibleTexts().constFirst(), count);
        TaskTableView *table = m_window->table();
        table->setFocus();
        QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
        const int last = table->model()->rowCount() - 1;
        QCOMPARE(table->currentIndex().row(), last);
        m_state->workspace()->setSelectedTaskIds({table->taskIdAt(last)});
        QVERIFY(table->selectionModel()->isRowSelected(last, {}));
        const QRect row = table->visualRect(table->model()->index(last, 0));
        QVERIFY(row.top() >= 0 && row.bottom() < table->viewport()->height());
        const QRect rowInWindow(table->viewport()->mapTo(m_window.get(), row.topLeft()), row.size());
        const QWidget *bar = m_window->chromeBar();
        const QRect barInWindow(bar->mapTo(m_window.get(), QPoint(0, 0)), bar->size());
        QVERIFY2(rowInWindow.bottom() < barInWindow.top(),
                 qPrintable(u"row ends at %1, the chrome bar starts at %2"_s.arg(rowInWindow.bottom()).arg(barInWindow.top())));
        Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + u"window-table-last-row"_s);
    }

    // At the default window size and at the smallest, in both directions and both languages,
    // each column is as wide as its widest text, and the table with its scroll bar and the reveal
    // buttons stays inside the window.
    void columnsFitTheirTexts_data()
    {
        QTest::addColumn<ConversionMode>("mode");
        QTest::newRow("compress") << ConversionMode::jpegToJXL;
        QTest::newRow("restore") << ConversionMode::jxlToJPEG;
        QTest::newRow("compress, English") << ConversionMode::jpegToJXL;
        QTest::newRow("restore, English") << ConversionMode::jxlToJPEG;
    }

    void columnsFitTheirTexts()
    {
        QFETCH(ConversionMode, mode);
        open(mode);
        // Enough rows to scroll, the first ones done, the others running.
        const auto list = [this](ConversionMode direction) {
            QList<TaskItem> tasks;
            for (int i = 0; i < 30; ++i) {
                TaskItem item = task(direction, i < 2 ? TaskStatus::completed : TaskStatus::processing, 2'400'000 + i,
                                     i < 2 ? std::optional<qint64>(1'800'000) : std::nullopt);
                item.isVerified = i == 0;
                item.duration = 12.5;
                item.destinationURL = item.sourceURL;
                tasks.append(item);
            }
            m_state->workspace()->switchMode(direction);
            m_state->workspace()->tasks(direction)->append(tasks);
        };
        list(mode);
        TaskTableView *table = m_window->table();
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(table));
        const auto *delegate = qobject_cast<TaskRowDelegate *>(table->itemDelegate());
        QVERIFY(delegate);
        QHeaderView *header = table->horizontalHeader();
        const QString name = EnglishTexts::screensFolder() + u"window-table-columns-"_s
            + (mode == ConversionMode::jpegToJXL ? u"compress"_s : u"restore"_s);
        const auto check = [&](const QSize size, const QString &screenshot) {
            m_window->resize(size);
            QTRY_COMPARE(m_window->size(), size);
            QApplication::processEvents();
            const QString where = u"%1 at %2×%3: "_s.arg(screenshot).arg(size.width()).arg(size.height());
            for (int column = 1; column < TaskTableModel::ColumnCount; ++column) {
                QVERIFY2(header->sectionSize(column) >= delegate->columnWidth(column), qPrintable(where + QString::number(column)));
                QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column), qPrintable(where + QString::number(column)));
            }
            QVERIFY2(header->sectionSize(TaskTableModel::NameColumn) >= 180, qPrintable(where + QString::number(header->sectionSize(0))));
            QCOMPARE(header->length(), table->viewport()->width());
            // The scroll bar and the reveal buttons lie inside the window.
            const QRect window = m_window->rect();
            const QScrollBar *bar = table->verticalScrollBar();
            QVERIFY2(bar->isVisible() && window.contains(QRect(bar->mapTo(m_window.get(), QPoint()), bar->size())),
                     qPrintable(where + u"the scroll bar is out of the window"_s));
            const QRect reveal =
                TaskRowDelegate::revealButtonRect(table->visualRect(table->model()->index(0, TaskTableModel::StatusColumn)));
            QVERIFY2(table->viewport()->rect().contains(reveal)
                         && window.contains(QRect(table->viewport()->mapTo(m_window.get(), reveal.topLeft()), reveal.size())),
                     qPrintable(where + u"the reveal button is cut"_s));
            Screenshots::save(m_window.get(), screenshot);
        };
        check(QSize(860, 560), name);
        if (!QTest::currentTestFailed())
            check(m_window->minimumSize(), name + u"-smallest"_s);
        // The other direction's columns at the smallest size: the window follows them.
        list(mode == ConversionMode::jpegToJXL ? ConversionMode::jxlToJPEG : ConversionMode::jpegToJXL);
        QTRY_VERIFY(m_window->minimumWidth() >= table->minimumWidth());
        if (!QTest::currentTestFailed())
            check(m_window->minimumSize(), name + u"-smallest-then-other"_s);
    }

    // Two photos convert for real, the third hangs: the island then counts the batch's own jobs
    // and adds the time it still needs; stopping brings back the idle face.
    void batchProgressWithEstimate()
    {
        const QString folder = m_root.filePath(u"estimate"_s);
        for (const QString &name : {u"a.jpg"_s, u"b.jpg"_s, u"slow.jpg"_s})
            TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, name);
        const QString encoder = TestEnv::writeScript(
            m_root.filePath(u"bin/cjxl-some"_s),
            "case \"$1\" in *slow*) exec sleep 30 ;; esac\nexec " + TestEnv::installedTool(u"cjxl"_s).toUtf8() + " \"$@\"\n");
        useEncoderAndImport(encoder, folder);
        if (QTest::currentTestFailed())
            return;

        actions()->start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(island()->face() == StatusIsland::Face::processing && island()->visibleTexts().size() == 3, 60000);
        const QStringList texts = island()->visibleTexts();
        QCOMPARE(texts.at(0), u"2/3"_s);
        QCOMPARE(texts.at(1), u"·"_s);
        QVERIFY2(texts.at(2) == u"不到 1 分钟"_s || texts.at(2).startsWith(u"约 "_s), qPrintable(texts.at(2)));
        QTRY_VERIFY(m_window->progressStrip()->isVisible());
        QCOMPARE(m_window->progressStrip()->progress(), 2.0 / 3.0);

        QTest::mouseClick(m_window->chromeBar()->actionIsland()->button(), Qt::LeftButton);
        QTRY_COMPARE(island()->face(), StatusIsland::Face::idle);
        QTRY_VERIFY(!m_window->progressStrip()->isVisible());
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(0));
        QCOMPARE(m_window->chromeBar()->actionIsland()->button()->toolTip(), u"开始压缩"_s);
    }

    // A batch on a slow fake encoder: the strip and the island count it; closing asks first,
    // then cancels and quits once the tool has exited, leaving no partial file.
    void closeDuringBatch_data()
    {
        QTest::addColumn<QStringList>("commands"); // stop; the question's answers: carry on, stop and quit
        QTest::newRow("Chinese") << list({"停止处理", "继续处理", "停止并退出"});
        QTest::newRow("English") << list({"Stop", "Keep Converting", "Stop and Quit"});
    }

    void closeDuringBatch()
    {
        QFETCH(QStringList, commands);
        const QString folder = m_root.filePath(u"batch"_s);
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, u"a.jpg"_s);
        const QString encoder = TestEnv::writeScript(m_root.filePath(u"bin/cjxl"_s),
                                                     "printf partial > \"$2\"\nexec sleep 30\n");
        useEncoderAndImport(encoder, folder);
        if (QTest::currentTestFailed())
            return;

        QSignalSpy started(m_state->batch(), &BatchController::started);
        m_state->runner()->startCurrentProcessing();
        QTRY_COMPARE(started.size(), 1);
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(1));
        QTRY_VERIFY(m_window->progressStrip()->isVisible());
        QTRY_COMPARE(island()->face(), StatusIsland::Face::processing);
        QCOMPARE(island()->visibleTexts(), list({"0/1"}));
        QCOMPARE(m_window->chromeBar()->actionIsland()->button()->toolTip(), commands.at(0));
        // The other direction shown: the batch stays counted and stoppable.
        m_state->workspace()->switchMode(ConversionMode::jxlToJPEG);
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(m_window->canvas()));
        QTRY_VERIFY(m_window->chromeBar()->isVisible() && m_window->chromeBar()->actionIsland()->isVisible());
        QVERIFY(actions()->stop->isEnabled());
        m_state->workspace()->switchMode(ConversionMode::jpegToJXL);
        Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + u"window-table-processing"_s);

        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        const auto question = [&] { return m_window->findChild<QMessageBox *>(); };
        const auto answer = [&](const QString &text) {
            QTRY_VERIFY(question() && question()->isVisible());
            QCOMPARE(LayoutCheck::clippedTexts(question()), QStringList());
            Screenshots::save(question(), EnglishTexts::screensFolder() + u"close-question"_s);
            for (QAbstractButton *button : question()->buttons()) {
                if (button->text() == text) {
                    button->click();
                    return;
                }
            }
            QFAIL("no such answer");
        };
        QVERIFY(!m_window->close());
        answer(commands.at(1));
        QTest::qWait(100); // proves that carrying on neither stops the batch nor quits
        QVERIFY(m_state->runner()->isProcessing() && m_window->isVisible() && quit.isEmpty());

        QVERIFY(!m_window->close());
        answer(commands.at(2));
        QTRY_COMPARE(quit.size(), 1);
        QCOMPARE(m_state->batch()->runningJobCount(), qsizetype(0));
        QVERIFY(!m_state->runner()->isProcessing());
        QCOMPARE(m_state->workspace()->compressTasks()->at(0).status, TaskStatus::pending);
        QCOMPARE(TestEnv::entries(folder), list({"a.jpg"}));
    }

    // The row menu reaches the batch: a failed job retried runs again; a running job removed
    // from the list has its tool stopped.
    void rowMenuReachesTheBatch()
    {
        if (!m_state->tools()->isCjxlReady())
            QSKIP("cjxl is not installed");
        const auto entry = [](const std::unique_ptr<QMenu> &menu, const QString &text) {
            for (QAction *action : menu->actions()) {
                if (action->text().startsWith(text))
                    return action;
            }
            return static_cast<QAction *>(nullptr);
        };
        const QString folder = m_root.filePath(u"rowmenu"_s);
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, u"a.jpg"_s);
        QSignalSpy imported(m_state->imports(), &ImportService::importFinished);
        m_state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        QVERIFY(imported.wait(30000));
        TaskList *tasks = m_state->workspace()->compressTasks();
        const TaskItem failed = fail(tasks->at(0));
        std::unique_ptr<QMenu> retry(m_window->table()->makeRowMenu(failed.id));
        QSignalSpy finished(m_state->batch(), &BatchController::jobFinished);
        entry(retry, u"重新尝试此项目"_s)->trigger();
        QVERIFY(finished.wait(60000));
        QCOMPARE(qvariant_cast<TaskItem>(finished.first().first()).id, failed.id);
        QTRY_COMPARE(tasks->at(0).status, TaskStatus::completed);
        QTRY_VERIFY(!m_state->runner()->isProcessing());

        tasks->clear();
        const QString slow = m_root.filePath(u"rowmenu-slow"_s);
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, slow, u"b.jpg"_s);
        useEncoderAndImport(TestEnv::writeScript(m_root.filePath(u"bin/slow-cjxl"_s), "exec sleep 30\n"), slow);
        m_state->runner()->startCurrentProcessing();
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(1));
        std::unique_ptr<QMenu> running(m_window->table()->makeRowMenu(tasks->at(0).id));
        entry(running, u"从列表中移除"_s)->trigger();
        QVERIFY(tasks->isEmpty());
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(0));
        QTRY_VERIFY(!m_state->runner()->isProcessing());
    }

    // The main states in either language for people to look at (English under en/), nothing cut
    // off: menus, empty pages, the table idle, failing and restoring, the chrome bar's faces, the
    // settings a missing tool leads to, statistics, the update sheet, a reveal with no file manager.
    void screens_data()
    {
        QTest::addColumn<QString>("items"); // twelve jobs, as the island counts them
        QTest::newRow("Chinese") << u"12 个项目"_s;
        QTest::newRow("English") << u"12 items"_s;
    }

    void screens()
    {
        QFETCH(QString, items);
        const QString folder = EnglishTexts::screensFolder();
        const auto save = [&](QWidget *widget, const QString &name) {
            QApplication::processEvents();
            const QStringList clipped = LayoutCheck::clippedTexts(widget);
            QVERIFY2(clipped.isEmpty(), qPrintable(name + u": "_s + clipped.join(u"; "_s)));
            Screenshots::save(widget, folder + name);
        };
        QCOMPARE(mnemonicProblems(m_window->menuBar()), QStringList());
        Screenshots::save(m_window->menuBar(), folder + u"menu-bar"_s);
        altFOpensTheFileMenu(folder + u"menu-file"_s);
        // The Chinese dialogs are pictured by importDialogs, with Qt's own texts translated.
        for (QAction *action : {actions()->importFolder, actions()->importPhotos}) {
            if (folder.isEmpty())
                break;
            action->trigger();
            QFileDialog *dialog = nullptr;
            QTRY_VERIFY((dialog = openDialog()));
            save(dialog, action == actions()->importFolder ? u"import-dialog-folder"_s : u"import-dialog-photos"_s);
            dialog->reject();
            QTRY_VERIFY(!openDialog());
        }
        save(m_window.get(), u"window-empty-compress"_s);
        m_state->workspace()->switchMode(ConversionMode::jxlToJPEG);
        save(m_window.get(), u"window-empty-restore"_s);
        m_state->workspace()->switchMode(ConversionMode::jpegToJXL);

        const QList<TaskItem> tasks = twelveTasks();
        QVERIFY(showTasks(tasks));
        QTRY_COMPARE(island()->visibleTexts().constFirst(), items);
        QVERIFY(!m_window->progressStrip()->isVisible());
        save(m_window.get(), u"window-table-idle"_s);
        const TaskItem failed = fail(tasks.at(4));
        // The longest status texts, as a running batch shows them.
        for (const auto &[row, status] : {std::pair{5, TaskStatus::processing}, std::pair{6, TaskStatus::verifying}}) {
            TaskItem running = tasks.at(row);
            running.status = status;
            m_state->workspace()->compressTasks()->replace(running);
        }
        QTRY_VERIFY(island()->retryButton()->isVisible());
        save(m_window.get(), u"window-table-failures"_s);
        std::unique_ptr<QMenu> rowMenu(m_window->table()->makeRowMenu(failed.id));
        Screenshots::save(rowMenu.get(), folder + u"table-row-menu-failed"_s);
        rowMenu.reset();

        QList<TaskItem> restoring;
        for (int i = 0; i < 3; ++i)
            restoring.append(task(ConversionMode::jxlToJPEG, i == 0 ? TaskStatus::completed : TaskStatus::pending,
                                  1'800'000 + i, i == 0 ? std::optional<qint64>(2'400'000) : std::nullopt));
        m_state->workspace()->restoreTasks()->append(restoring);
        m_state->workspace()->switchMode(ConversionMode::jxlToJPEG);
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(m_window->table()));
        save(m_window.get(), u"window-table-restore"_s);
        m_state->workspace()->switchMode(ConversionMode::jpegToJXL);

        // The bar's own refresh after the switch runs first, so it cannot overwrite the facts pictured.
        QApplication::processEvents();
        StatusFacts running;
        running.count = 12;
        running.batch = BatchFigures{true, 3, 12, 100};
        StatusFacts skippedRunning = running;
        skippedRunning.batch.skipped = 2;
        StatusFacts skipped;
        skipped.count = 2;
        skipped.totalSize = 1'200'000;
        skipped.savedBytes = 300'000;
        skipped.skippedCount = 1;
        StatusFacts missing;
        missing.mode = ConversionMode::jxlToJPEG;
        missing.count = 2;
        missing.toolReady = false;
        for (const auto &[facts, name] : {std::pair{running, u"chrome-bar-estimate"_s}, std::pair{skippedRunning, u"chrome-bar-skipped-running"_s},
                                          std::pair{skipped, u"chrome-bar-skipped"_s}, std::pair{missing, u"chrome-bar-tool-missing"_s}}) {
            m_window->chromeBar()->setFacts(facts);
            save(m_window->chromeBar(), name);
        }
        // The missing tool's island says what to install and leads to its path in the settings.
        QVERIFY2(island()->toolTip().contains(u"sudo apt install libjxl-tools"_s), qPrintable(island()->toolTip()));
        QTest::mouseClick(island(), Qt::LeftButton, {}, island()->rect().center());
        auto *settings = m_window->findChild<SettingsWindow *>();
        QVERIFY(settings && settings->isVisible());
        QCOMPARE(settings->focusWidget(), settings->findChild<QWidget *>(u"toolPath-djxl"_s));
        save(settings, u"settings-from-missing-tool"_s);
        QTest::keyClick(settings, Qt::Key_Escape);
        m_window->chromeBar()->setFacts(StatusFacts());

        actions()->statistics->trigger();
        QTRY_VERIFY(m_window->statsPopup()->isVisible());
        save(m_window->statsPopup(), u"stats-popup"_s);
        QTest::keyClick(m_window->statsPopup(), Qt::Key_Escape);
        m_window->windowState()->setShowUpdateSheet(true);
        auto *sheet = m_window->findChild<UpdateSheet *>();
        QVERIFY(sheet && sheet->isVisible());
        save(sheet, u"update-sheet"_s);
        m_window->windowState()->setShowUpdateSheet(false);
        QTRY_VERIFY(m_window->findChildren<UpdateSheet *>().isEmpty());

        // Showing a photo where no file manager can: a box says so.
        m_state->workspace()->compressTasks()->clear();
        QMessageBox *box = revealWithoutFileManager(folder.isEmpty() ? u"reveal"_s : u"reveal-en"_s);
        QVERIFY(box);
        save(box, u"reveal-failed"_s);
        box->close();
    }

    void closeWhenIdleQuitsAtOnce()
    {
        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        QVERIFY(m_window->close());
        QCOMPARE(quit.size(), 1);
    }
};

QTEST_MAIN(TestUiWindow)
#include "tst_ui_window.moc"
