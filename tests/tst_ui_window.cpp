#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/importservice.h"
#include "app/launcherprogress.h"
#include "app/lifetimestats.h"
#include "app/notificationmanager.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "englishtexts.h"
#include "fakedesktop.h"
#include "filedialogs.h"
#include "integration/updatemanager.h"
#include "languagerows.h"
#include "mnemonics.h"
#include "platform/uilanguage.h"
#include "pictures.h"
#include "screenshots.h"
#include "testenv.h"
#include "ui/actionisland.h"
#include "ui/appactions.h"
#include "ui/chromebar.h"
#include "ui/emptycanvas.h"
#include "ui/maintoolbar.h"
#include "ui/mainwindow.h"
#include "ui/modeswitch.h"
#include "ui/progressstrip.h"
#include "ui/settingswindow.h"
#include "ui/statspopup.h"
#include "ui/statusisland.h"
#include "ui/taskrowactions.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasktableview.h"
#include "ui/updatesheet.h"
#include "ui/windowstate.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using FileDialogs::typeAndEnter;
using Mode = ConversionMode;
using Face = StatusIsland::Face;

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

TaskItem task(Mode mode, TaskStatus status, qint64 original, std::optional<qint64> result = std::nullopt)
{
    TaskItem item;
    item.sourceURL = QUrl::fromLocalFile(u"/photos/%1.%2"_s.arg(original).arg(mode == Mode::jpegToJXL ? u"jpg"_s : u"jxl"_s));
    item.mode = mode;
    item.status = status;
    item.originalSize = original;
    item.compressedSize = result;
    return item;
}

// count jobs of mode, the first done of them completed and the others in status rest.
QList<TaskItem> tasks(int count, int done, Mode mode = Mode::jpegToJXL, TaskStatus rest = TaskStatus::pending)
{
    QList<TaskItem> out;
    for (int i = 0; i < count; ++i)
        out.append(task(mode, i < done ? TaskStatus::completed : rest, 2'400'000 + i,
                        i < done ? std::optional<qint64>(1'800'000) : std::nullopt));
    return out;
}

} // namespace

// The main window around the table: menus and their rules, toolbar, chrome bar, statistics, closing.
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
    void open(Mode direction = Mode::jpegToJXL)
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
    Workspace *workspace() const { return m_state->workspace(); }
    bool tableShown() const { return m_window->currentPage() == static_cast<QWidget *>(m_window->table()); }

    // Lists tasks to compress; true once the table shows them under its chrome bar.
    bool showTasks(const QList<TaskItem> &tasks)
    {
        workspace()->compressTasks()->append(tasks);
        return QTest::qWaitFor([&] { return tableShown() && m_window->chromeBar()->isVisible(); });
    }

    TaskItem fail(TaskItem item)
    {
        item.status = TaskStatus::failed;
        item.errorMessage = u"cjxl failed"_s;
        workspace()->compressTasks()->replace(item);
        return item;
    }

    void import(const QString &folder, const QStringList &names = {u"a.jpg"_s})
    {
        for (const QString &name : names)
            TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, name);
        QSignalSpy imported(m_state->imports(), &ImportService::importFinished);
        m_state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        QVERIFY(imported.wait(30000));
    }

    void useEncoderAndImport(const QString &encoder, const QString &folder, const QStringList &names = {u"a.jpg"_s})
    {
        AppSettings settings = m_state->settings()->settings();
        settings.customCjxlPath = encoder;
        m_state->settings()->setSettings(settings);
        m_state->tools()->probe();
        QTRY_COMPARE(m_state->tools()->cjxlPath(), encoder);
        import(folder, names);
    }

    QFileDialog *openDialog() const { return FileDialogs::shown(m_window.get()); }

    // Pictures widget (English ones under en/), failing when any text in it is cut off.
    static void picture(QWidget *widget, const QString &name) { QCOMPARE(Pictures::save(widget, name), QString()); }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
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
        TestEnv::forgetPreferences(); // the next case starts with the tools found, not a fake encoder of this one
    }

    // The import shortcuts (photos typed, Enter, then a folder) list what was chosen; Qt's texts speak the window's language.
    void importDialogs_data() { LanguageRows::add(); }

    void importDialogs()
    {
        QFETCH(bool, english);
        if (!english) {
            UiLanguage::install(qApp); // as the window's program does: Qt's texts in Chinese here
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange); // before the dialog, as there
        }
        const auto removeTranslations =
            qScopeGuard([] { qDeleteAll(qApp->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly)); });
        const QString folder = m_root.filePath(u"dialog/"_s + QLatin1String(QTest::currentDataTag()));
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, folder, QString::fromLatin1(name));
        for (const bool photos : {true, false}) {
            m_window->activateWindow(); // back from the dialog before
            QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
            QTest::keyClick(m_window.get(), Qt::Key_O, photos ? Qt::ControlModifier : Qt::ControlModifier | Qt::AltModifier);
            QFileDialog *dialog = nullptr;
            QTRY_VERIFY((dialog = openDialog()));
            QCOMPARE(dialog->fileMode(), photos ? QFileDialog::ExistingFiles : QFileDialog::Directory);
            QCOMPARE(dialog->findChild<QLabel *>(u"lookInLabel"_s)->text(), english ? u"Look in:"_s : u"查找范围："_s);
            picture(dialog, photos ? u"import-dialog-photos"_s : u"import-dialog-folder"_s);
            QVERIFY(typeAndEnter(dialog, folder));
            if (photos) {
                QVERIFY(dialog->isVisible()); // a folder typed into the photo dialog opens
                QVERIFY(typeAndEnter(dialog, u"\"a.jpg\" \"c.jpg\""_s));
            }
            QTRY_VERIFY(!openDialog());
            QTRY_COMPARE(workspace()->compressTasks()->size(), photos ? 2 : 3); // the folder adds b.jpg alone
        }
    }

    // Which ruled commands each state enables.
    void rules()
    {
        const auto restore = Mode::jxlToJPEG;
        for (const auto &[facts, enabled] :
             {std::pair{CommandFacts{.toolReady = true}, ""}, // an empty list
              {CommandFacts{.listEmpty = false, .toolReady = true}, "clear all start"},
              {CommandFacts{.listEmpty = false, .toolReady = true, .hasSelection = true}, "clear all remove preview start"},
              {CommandFacts{.mode = restore, .listEmpty = false, .toolReady = true, .failedCount = 2}, "clear all start retry"},
              {CommandFacts{.listEmpty = false, .failedCount = 2}, "clear all"}, // the tool missing
              {CommandFacts{.listEmpty = false, .processing = true, .toolReady = true, .hasSelection = true, .failedCount = 2},
               "all remove preview stop"},
              {CommandFacts{.processing = true, .toolReady = true}, "stop"}}) { // a batch of the list not shown
            QStringList actual;
            for (const auto &[rule, name] : {std::pair{&CommandRules::clearList, "clear"}, {&CommandRules::selectAll, "all"},
                                             {&CommandRules::removeSelected, "remove"}, {&CommandRules::preview, "preview"},
                                             {&CommandRules::start, "start"}, {&CommandRules::stop, "stop"},
                                             {&CommandRules::retryFailed, "retry"}}) {
                if (rule(facts))
                    actual.append(QLatin1String(name));
            }
            QCOMPARE(actual.join(u' '), QLatin1String(enabled));
        }
    }

    // Rules fed by the services' signals; a clicked mode switch drops the selection; buttons show no mnemonic.
    void commandsFollowTheState()
    {
        workspace()->compressTasks()->append({task(Mode::jpegToJXL, TaskStatus::failed, 1000)});
        actions()->selectAll->trigger();
        QVERIFY(actions()->start->isEnabled() && actions()->retryFailed->isEnabled() && actions()->removeSelected->isEnabled());
        QCOMPARE(actions()->start->iconText(), u"开始压缩"_s);
        ModeSwitch *modes = m_window->mainToolBar()->modeSwitch();
        QTest::mouseClick(modes->segment(1), Qt::LeftButton);
        QVERIFY(workspace()->activeMode() == Mode::jxlToJPEG && workspace()->selectedTaskIds().isEmpty());
        QVERIFY(!actions()->start->isEnabled() && actions()->restoreMode->isChecked() && !actions()->compressMode->isChecked());
        QSignalSpy modeChanges(workspace(), &Workspace::activeModeChanged);
        actions()->compressMode->trigger();
        QVERIFY(modes->segment(0)->isChecked() && !modes->segment(1)->isChecked() && modeChanges.size() == 1);
    }

    // Each shortcut once (Qt fires neither of two that share one); F10 opens a menu; Delete acts on the table only.
    void keyboardCommands()
    {
        QStringList shortcuts;
        for (const QAction *action : actions()->all())
            shortcuts += QKeySequence::listToString(action->shortcuts()).split(u"; "_s, Qt::SkipEmptyParts);
        QCOMPARE(QSet<QString>(shortcuts.cbegin(), shortcuts.cend()).size(), shortcuts.size());
        QTest::keyClick(m_window.get(), Qt::Key_F10);
        QTRY_VERIFY(m_window->menuBar()->actions().at(0)->menu()->isVisible());
        m_window->menuBar()->actions().at(0)->menu()->close();

        QVERIFY(showTasks(tasks(2, 0)));
        WindowState *view = m_window->windowState();
        workspace()->selectAllTasks();
        QToolButton *elsewhere = m_window->mainToolBar()->buttons().constLast();
        elsewhere->setFocus();
        QTest::keyClick(elsewhere, Qt::Key_Delete);
        QTest::keyClick(elsewhere, Qt::Key_Space);
        QVERIFY(workspace()->compressTasks()->size() == 2 && !view->previewItemURL());
        m_window->table()->setFocus(); // Space on the table itself: ui_table
        QTest::keyClick(m_window->table(), Qt::Key_Delete);
        QVERIFY(workspace()->compressTasks()->isEmpty());
        QTRY_VERIFY(m_window->currentPage() == static_cast<QWidget *>(m_window->canvas()));
    }

    // One settings window, centred, however asked for; an update's sheet is modal; closed idle, the window quits.
    void secondaryWindows()
    {
        m_window->move(40, 30);
        WindowState *view = m_window->windowState();
        actions()->preferences->trigger();
        auto *settings = m_window->findChild<SettingsWindow *>();
        QVERIFY(settings && settings->isVisible());
        QVERIFY((settings->frameGeometry().center() - m_window->frameGeometry().center()).manhattanLength() <= 4);
        QTest::mouseClick(m_window->mainToolBar()->buttons().constLast(), Qt::LeftButton);
        view->openSettings();
        actions()->about->trigger();
        QCOMPARE(m_window->findChildren<SettingsWindow *>().size(), 1);
        QCOMPARE(settings->tabs()->currentIndex(), settings->tabs()->count() - 1);

        Q_EMIT m_updates->updateFound();
        auto *sheet = m_window->findChild<UpdateSheet *>();
        QVERIFY(sheet && sheet->isVisible() && sheet->windowModality() == Qt::WindowModal);
        sheet->reject();
        QVERIFY(!view->showUpdateSheet());

        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        QVERIFY(m_window->close());
        QCOMPARE(quit.size(), 1);
    }

    // What the islands show for each state, and whether the action island's command may run.
    void chromeBar()
    {
        const auto restore = Mode::jxlToJPEG;
        const BatchFigures batch{.running = true, .done = 3, .total = 12, .remainingSeconds = 100};
        const QStringList running{u"3/12"_s, u"·"_s, u"约 2 分钟"_s};
        const QStringList idle{u"2 个项目"_s, u"·"_s, u"1.2 MB"_s};
        const QStringList saved = idle + QStringList{u"·"_s, u"已节省 300 KB"_s};
        struct Row
        {
            StatusFacts facts;
            Face face;
            QStringList texts; // none: the bar is hidden
            const char *button; // the action island's command, empty when hidden
        };
        for (const Row &row : std::initializer_list<Row>{
                 {{}, Face::idle, {}, ""},
                 {{.toolReady = false}, Face::toolMissing, {u"未检测到 cjxl 编码器"_s}, ""},
                 {{.mode = restore, .toolReady = false, .count = 2}, Face::toolMissing, {u"未检测到 djxl 解码器"_s}, "还原照片"},
                 {{.batch = batch, .count = 12}, Face::processing, running, "停止处理"},
                 // The other direction is shown and empty: the batch's count and stop stay in view.
                 {{.mode = restore, .toolReady = false, .batch = batch}, Face::processing, running, "停止处理"},
                 {{.count = 2, .totalSize = 1'200'000, .savedBytes = 300'000, .failedCount = 1}, Face::idle,
                  saved + QStringList{u"重试 1 项"_s}, "开始压缩"},
                 {{.count = 2, .totalSize = 1'200'000}, Face::idle, idle, "开始压缩"},
                 // Restoring never shows savings.
                 {{.mode = restore, .count = 2, .totalSize = 1'200'000, .savedBytes = 300'000}, Face::idle, idle, "还原照片"}}) {
            const StatusFacts &facts = row.facts;
            actions()->apply({.mode = facts.mode, .listEmpty = facts.count == 0, .processing = facts.batch.running,
                              .toolReady = facts.toolReady, .failedCount = facts.failedCount});
            ChromeBar *bar = m_window->chromeBar();
            bar->setFacts(facts);
            QCOMPARE(bar->isVisible(), !row.texts.isEmpty());
            QCOMPARE(island()->face(), row.face);
            QCOMPARE(island()->isVisible() ? island()->visibleTexts() : QStringList(), row.texts);
            IslandButton *action = bar->actionIsland()->button();
            QCOMPARE(bar->actionIsland()->isVisible() ? action->text() : QString(), QString::fromUtf8(row.button));
            QVERIFY(!action->isVisible() || action->isEnabled() == (facts.batch.running || facts.toolReady));
        }
    }

    // The popup and its flag move together, whatever opens or closes it (command, close button, Esc, the button).
    void statsPopup()
    {
        StatsPopup *popup = m_window->statsPopup();
        QToolButton *button = m_window->mainToolBar()->statisticsButton();
        WindowState *view = m_window->windowState();
        const auto closed = [&] { return !popup->isVisible() && !view->showStatsSheet() && !actions()->statistics->isChecked(); };
        actions()->statistics->trigger();
        QTRY_VERIFY(popup->isVisible() && view->showStatsSheet() && actions()->statistics->isChecked());
        QVERIFY(popup->geometry().top() >= button->mapToGlobal(QPoint(0, button->height())).y());
        QTest::mouseClick(popup->closeButton(), Qt::LeftButton);
        QVERIFY(closed());
        view->setShowStatsSheet(true);
        QTRY_VERIFY(popup->isVisible());
        QTest::keyClick(popup, Qt::Key_Escape);
        QVERIFY(closed());
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_VERIFY(popup->isVisible());
        QTest::mousePress(popup, Qt::LeftButton, {}, popup->mapFromGlobal(button->mapToGlobal(button->rect().center())));
        QTest::mouseRelease(button, Qt::LeftButton, {}, button->rect().center());
        QTest::qWait(50); // proves that the release does not open it again
        QVERIFY(closed());
        m_window->hide(); // with the window hidden it cannot open: the flag must not stay on
        view->setShowStatsSheet(true);
        QVERIFY(closed());
    }

    // A re-run's skipped photos are counted apart and save nothing; the all-time statistics say they leave them out.
    void skippedJobsCountApart_data() { LanguageRows::add(); }

    void skippedJobsCountApart()
    {
        TaskItem converted = task(Mode::jpegToJXL, TaskStatus::completed, 1000, 753);
        m_state->stats()->count(converted);
        workspace()->compressTasks()->append({converted, task(Mode::jpegToJXL, TaskStatus::skipped, 2000, 100),
                                              task(Mode::jpegToJXL, TaskStatus::skipped, 2001, 100)});
        const StatusFacts facts = StatusFacts::of(*workspace(), *m_state->tools(), *m_state->runner());
        QVERIFY(facts.skippedCount == 2 && facts.savedBytes == 247);
        m_window->windowState()->setShowStatsSheet(true);
        StatsPopup *popup = m_window->statsPopup();
        QTRY_VERIFY(popup->isVisible());
        const QStringList shown = popup->texts();
        const QString average = StatsFigures::averageReductionText(m_state->stats()->averageReduction());
        const QString leftOut = QCoreApplication::translate("StatsPopup", "历史累计，不含本次跳过的 %n 张", nullptr, 2);
        QVERIFY2(average.endsWith(u'%') && shown.contains(average) && shown.contains(leftOut), qPrintable(shown.join(u'|')));
        picture(popup, u"stats-popup-skipped"_s);
    }

    // The stored output folder has gone: the start is refused with an alert naming it, and nothing is made.
    void missingOutputFolderRefusesTheStart_data() { LanguageRows::add(); }

    void missingOutputFolderRefusesTheStart()
    {
        const QString gone = m_root.filePath(u"unplugged/Backup"_s);
        m_state->settings()->setOutputFolder(gone);
        workspace()->compressTasks()->append({task(Mode::jpegToJXL, TaskStatus::pending, 1000)});
        m_state->runner()->startCurrentProcessing();
        QMessageBox *alert = nullptr;
        QTRY_VERIFY((alert = m_window->findChild<QMessageBox *>()) != nullptr);
        QVERIFY2(alert->text().contains(gone), qPrintable(alert->text()));
        picture(alert, u"output-folder-missing"_s);
        QVERIFY(!QFileInfo::exists(m_root.filePath(u"unplugged"_s)));
        QVERIFY(!m_state->runner()->isProcessing());
        alert->accept();
        QTRY_VERIFY(!m_state->runner()->diskWarningMessage());
    }

    // At the default size and the smallest, either direction and language, each column fits its
    // widest text and the scroll bar and reveal buttons stay inside the window; the last row still
    // scrolls into view above the islands floating over the table's bottom edge.
    void columnsFitTheirTexts_data()
    {
        QTest::addColumn<Mode>("mode");
        for (const char *tag : {"compress", "restore", "compress, English", "restore, English"})
            QTest::newRow(tag) << (tag[0] == 'c' ? Mode::jpegToJXL : Mode::jxlToJPEG);
    }

    void columnsFitTheirTexts()
    {
        QFETCH(Mode, mode);
        open(mode);
        // Enough rows to scroll, the first ones done, the others running.
        const auto list = [this](Mode direction) {
            QList<TaskItem> items = tasks(30, 2, direction, TaskStatus::processing);
            for (TaskItem &item : items) {
                item.isVerified = item.id == items.constFirst().id;
                item.duration = 12.5;
                item.destinationURL = item.sourceURL;
            }
            workspace()->switchMode(direction);
            workspace()->tasks(direction)->append(items);
        };
        list(mode);
        TaskTableView *table = m_window->table();
        QTRY_VERIFY(tableShown() && m_window->chromeBar()->isVisible());
        const auto *delegate = qobject_cast<TaskRowDelegate *>(table->itemDelegate());
        QHeaderView *header = table->horizontalHeader();
        const QString name = u"window-table-columns-"_s + (mode == Mode::jpegToJXL ? u"compress"_s : u"restore"_s);
        const auto check = [&](const QSize size, const QString &screenshot) {
            m_window->resize(size);
            QTRY_COMPARE(m_window->size(), size);
            QApplication::processEvents();
            const QString where = u"%1 at %2×%3: "_s.arg(screenshot).arg(size.width()).arg(size.height());
            for (int column = 1; column < TaskTableModel::ColumnCount; ++column) {
                QVERIFY2(header->sectionSize(column) >= std::max(delegate->columnWidth(column), header->sectionSizeHint(column)),
                         qPrintable(where + QString::number(column)));
            }
            QVERIFY2(header->sectionSize(TaskTableModel::NameColumn) >= 180, qPrintable(where + QString::number(header->sectionSize(0))));
            QCOMPARE(header->length(), table->viewport()->width());
            const QRect window = m_window->rect();
            const QScrollBar *bar = table->verticalScrollBar();
            QVERIFY2(bar->isVisible() && window.contains(QRect(bar->mapTo(m_window.get(), QPoint()), bar->size())),
                     qPrintable(where + u"the scroll bar is out of the window"_s));
            const QRect reveal =
                TaskRowDelegate::revealButtonRect(table->visualRect(table->model()->index(0, TaskTableModel::StatusColumn)));
            QVERIFY2(table->viewport()->rect().contains(reveal)
                         && window.contains(QRect(table->viewport()->mapTo(m_window.get(), reveal.topLeft()), reveal.size())),
                     qPrintable(where + u"the reveal button is cut"_s));
            Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + screenshot);
        };
        check(QSize(860, 560), name);
        if (mode == Mode::jpegToJXL) {
            table->setFocus();
            QTest::keyClick(table, Qt::Key_End, Qt::ControlModifier);
            const int last = table->model()->rowCount() - 1;
            QCOMPARE(table->currentIndex().row(), last);
            workspace()->setSelectedTaskIds({table->taskIdAt(last)});
            const QRect row = table->visualRect(table->model()->index(last, 0));
            const int rowBottom = table->viewport()->mapTo(m_window.get(), row.bottomLeft()).y();
            const int barTop = m_window->chromeBar()->mapTo(m_window.get(), QPoint(0, 0)).y();
            QVERIFY2(row.top() >= 0 && rowBottom < barTop, qPrintable(u"row ends at %1, the bar starts at %2"_s.arg(rowBottom).arg(barTop)));
            Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + u"window-table-last-row"_s);
            table->scrollToTop();
        }
        if (!QTest::currentTestFailed())
            check(m_window->minimumSize(), name + u"-smallest"_s);
        // The other direction's columns at the smallest size: the window follows them.
        list(mode == Mode::jpegToJXL ? Mode::jxlToJPEG : Mode::jpegToJXL);
        QTRY_VERIFY(m_window->minimumWidth() >= table->minimumWidth());
        if (!QTest::currentTestFailed())
            check(m_window->minimumSize(), name + u"-smallest-then-other"_s);
    }

    // Two photos convert, the third hangs; closing asks, then cancels and quits once the tool has exited, leaving no part.
    void closeDuringBatch_data() { LanguageRows::add(); }

    void closeDuringBatch()
    {
        const QString folder = m_root.filePath(u"batch-"_s + QLatin1String(QTest::currentDataTag()));
        const QString encoder = TestEnv::writeScript(
            m_root.filePath(u"bin/cjxl-some"_s), "case \"$1\" in *slow*) printf partial > \"$2\"; exec sleep 30 ;; esac\nexec "
                                                    + TestEnv::installedTool(u"cjxl"_s).toUtf8() + " \"$@\"\n");
        useEncoderAndImport(encoder, folder, {u"a.jpg"_s, u"b.jpg"_s, u"slow.jpg"_s});
        if (QTest::currentTestFailed())
            return;

        actions()->start->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(island()->face() == Face::processing && island()->visibleTexts().size() == 3, 60000);
        const QStringList texts = island()->visibleTexts();
        QCOMPARE(texts.mid(0, 2), (QStringList{u"2/3"_s, u"·"_s}));
        const QString about = remainingTimeText(60).section(u'1', 0, 0); // "about" some minutes, or under one
        QVERIFY2(texts.at(2) == remainingTimeText(0) || texts.at(2).startsWith(about), qPrintable(texts.at(2)));
        QTRY_VERIFY(m_window->progressStrip()->isVisible());
        QCOMPARE(m_window->progressStrip()->progress(), 2.0 / 3.0);
        Screenshots::save(m_window.get(), EnglishTexts::screensFolder() + u"window-table-processing"_s);

        QSignalSpy quit(m_window.get(), &MainWindow::quitRequested);
        const auto answer = [&](QMessageBox::ButtonRole role) {
            QMessageBox *question = nullptr;
            QTRY_VERIFY((question = m_window->findChild<QMessageBox *>()) && question->isVisible());
            picture(question, u"close-question"_s);
            for (QAbstractButton *button : question->buttons()) {
                if (question->buttonRole(button) == role)
                    return button->click();
            }
            QFAIL("no such answer");
        };
        QVERIFY(!m_window->close());
        answer(QMessageBox::RejectRole); // carry on
        QTest::qWait(100); // proves that carrying on neither stops the batch nor quits
        QVERIFY(m_state->runner()->isProcessing() && m_window->isVisible() && quit.isEmpty());

        QVERIFY(!m_window->close());
        answer(QMessageBox::DestructiveRole); // stop and quit
        QTRY_COMPARE(quit.size(), 1);
        QCOMPARE(m_state->batch()->runningJobCount(), qsizetype(0));
        QVERIFY(!m_state->runner()->isProcessing());
        QTRY_COMPARE(island()->face(), Face::idle);
        QVERIFY(!m_window->progressStrip()->isVisible());
        QCOMPARE(workspace()->compressTasks()->at(2).status, TaskStatus::pending);
        QCOMPARE(TestEnv::entries(folder), (QStringList{u"a.jpg"_s, u"a.jxl"_s, u"b.jpg"_s, u"b.jxl"_s, u"slow.jpg"_s}));
    }

    // Notices ask the window whether it is in front until it is gone; then they neither reach into it nor wait.
    void notificationsAskTheWindow()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (the suite runs under dbus-run-session)");
        QDBusConnection fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-desktop"_s);
        FakeDesktop desktop;
        QVERIFY(fake.registerVirtualObject(u"/"_s, &desktop, QDBusConnection::SubPath));
        QVERIFY(fake.registerService(u"org.freedesktop.Notifications"_s));
        const auto cleanup = qScopeGuard([&] {
            fake.unregisterService(u"org.freedesktop.Notifications"_s);
            fake.unregisterObject(u"/"_s, QDBusConnection::UnregisterTree);
            QDBusConnection::disconnectFromBus(u"fake-desktop"_s);
        });
        const QList<QVariantList> &posted = desktop.calls[u"org.freedesktop.Notifications.Notify"_s];
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_notifications->sendCompletionNotification(ConversionMode::jpegToJXL, 1, 10, 0);
        QTest::qWait(200); // proves that nothing is posted while the window is active
        QCOMPARE(posted.size(), 0);
        m_window.reset();
        m_notifications->sendCompletionNotification(ConversionMode::jpegToJXL, 1, 10, 0);
        QTRY_COMPARE(posted.size(), 1);
    }

    // The row menu reaches the batch: a retried failure runs again; a running job removed has its tool stopped.
    void rowMenuReachesTheBatch()
    {
        if (!m_state->tools()->isCjxlReady())
            QSKIP("cjxl is not installed");
        const auto trigger = [this](const QUuid &id, const QString &text) {
            std::unique_ptr<QMenu> menu(m_window->table()->makeRowMenu(id));
            for (QAction *action : menu->actions()) {
                if (action->text().startsWith(text))
                    return action->trigger();
            }
            QFAIL(qPrintable(u"no "_s + text));
        };
        import(m_root.filePath(u"rowmenu"_s));
        TaskList *tasks = workspace()->compressTasks();
        const TaskItem failed = fail(tasks->at(0));
        QSignalSpy finished(m_state->batch(), &BatchController::jobFinished);
        trigger(failed.id, u"重新尝试此项目"_s);
        QVERIFY(finished.wait(60000));
        QCOMPARE(qvariant_cast<TaskItem>(finished.first().first()).id, failed.id);
        QTRY_COMPARE(tasks->at(0).status, TaskStatus::completed);
        QTRY_VERIFY(!m_state->runner()->isProcessing());

        tasks->clear();
        useEncoderAndImport(TestEnv::writeScript(m_root.filePath(u"bin/slow-cjxl"_s), "exec sleep 30\n"),
                            m_root.filePath(u"rowmenu-slow"_s), {u"b.jpg"_s});
        m_state->runner()->startCurrentProcessing();
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(1));
        trigger(tasks->at(0).id, u"从列表中移除"_s);
        QVERIFY(tasks->isEmpty());
        QTRY_COMPARE(m_state->batch()->runningJobCount(), qsizetype(0));
        QTRY_VERIFY(!m_state->runner()->isProcessing());
    }

    // The main states pictured in either language (English under en/), nothing cut off: menus (own
    // mnemonics; Alt+F, I opens the photo dialog), empty pages, the table idle, failing and restoring,
    // chrome bar faces, the settings a missing tool leads to, statistics, updates, a failed reveal.
    void screens_data() { LanguageRows::add(); }

    void screens()
    {
        QFETCH(bool, english);
        QCOMPARE(Mnemonics::problems(m_window->menuBar()), QStringList());
        picture(m_window->menuBar(), u"menu-bar"_s);
        QMenu *file = m_window->menuBar()->actions().at(1)->menu();
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(file->isVisible());
        picture(file, u"menu-file"_s);
        QTest::keyClick(file, Qt::Key_I);
        QFileDialog *dialog = nullptr;
        QTRY_VERIFY((dialog = openDialog()));
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFiles);
        dialog->reject();
        QTRY_VERIFY(!openDialog());
        picture(m_window.get(), u"window-empty-compress"_s);
        workspace()->switchMode(Mode::jxlToJPEG);
        picture(m_window.get(), u"window-empty-restore"_s);
        workspace()->switchMode(Mode::jpegToJXL);

        const QList<TaskItem> twelve = tasks(12, 3);
        QVERIFY(showTasks(twelve));
        QTRY_VERIFY(island()->visibleTexts().constFirst().startsWith(u"12 "_s));
        picture(m_window.get(), u"window-table-idle"_s);
        const TaskItem failed = fail(twelve.at(4));
        // The longest status texts, as a running batch shows them.
        for (const auto &[row, status] : {std::pair{5, TaskStatus::processing}, std::pair{6, TaskStatus::verifying}}) {
            TaskItem running = twelve.at(row);
            running.status = status;
            workspace()->compressTasks()->replace(running);
        }
        QTRY_VERIFY(island()->retryButton()->isVisible());
        picture(m_window.get(), u"window-table-failures"_s);
        std::unique_ptr<QMenu> rowMenu(m_window->table()->makeRowMenu(failed.id));
        Screenshots::save(rowMenu.get(), EnglishTexts::screensFolder() + u"table-row-menu-failed"_s);
        rowMenu.reset();

        QList<TaskItem> restoring = tasks(3, 1, Mode::jxlToJPEG);
        workspace()->restoreTasks()->append(restoring);
        workspace()->switchMode(Mode::jxlToJPEG);
        QTRY_VERIFY(tableShown());
        picture(m_window.get(), u"window-table-restore"_s);
        workspace()->switchMode(Mode::jpegToJXL);

        // The bar's own refresh after the switch runs first, so it cannot overwrite the facts pictured.
        QApplication::processEvents();
        const BatchFigures batch{.running = true, .done = 3, .total = 12, .remainingSeconds = 100};
        BatchFigures skippedBatch = batch;
        skippedBatch.skipped = 2;
        for (const auto &[facts, name] :
             {std::pair{StatusFacts{.batch = batch, .count = 12}, u"chrome-bar-estimate"_s},
              {StatusFacts{.batch = skippedBatch, .count = 12}, u"chrome-bar-skipped-running"_s},
              {StatusFacts{.count = 2, .totalSize = 1'200'000, .savedBytes = 300'000, .skippedCount = 1}, u"chrome-bar-skipped"_s},
              {StatusFacts{.mode = Mode::jxlToJPEG, .toolReady = false, .count = 2}, u"chrome-bar-tool-missing"_s}}) {
            m_window->chromeBar()->setFacts(facts);
            picture(m_window->chromeBar(), name);
        }
        // The missing tool's island says what to install and leads to its path in the settings.
        QVERIFY2(island()->toolTip().contains(u"sudo apt install libjxl-tools"_s), qPrintable(island()->toolTip()));
        QTest::mouseClick(island(), Qt::LeftButton, {}, island()->rect().center());
        auto *settings = m_window->findChild<SettingsWindow *>();
        QVERIFY(settings && settings->isVisible());
        QCOMPARE(settings->focusWidget(), settings->findChild<QWidget *>(u"toolPath-djxl"_s));
        picture(settings, u"settings-from-missing-tool"_s);
        QTest::keyClick(settings, Qt::Key_Escape);
        m_window->chromeBar()->setFacts(StatusFacts());

        actions()->statistics->trigger();
        QTRY_VERIFY(m_window->statsPopup()->isVisible());
        picture(m_window->statsPopup(), u"stats-popup"_s);
        QTest::keyClick(m_window->statsPopup(), Qt::Key_Escape);
        m_window->windowState()->setShowUpdateSheet(true);
        auto *sheet = m_window->findChild<UpdateSheet *>();
        QVERIFY(sheet && sheet->isVisible());
        picture(sheet, u"update-sheet"_s);
        m_window->windowState()->setShowUpdateSheet(false);

        // No file manager can show the photo (xdg-open fails, none on the private bus): a box says so.
        workspace()->compressTasks()->clear();
        import(m_root.filePath(english ? u"reveal-en"_s : u"reveal"_s));
        const QString bin = m_root.filePath(u"failing-opener"_s);
        TestEnv::writeScript(bin + u"/xdg-open"_s, "exit 3");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ':' + path);
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        QTRY_VERIFY(!m_window->table()->taskIdAt(0).isNull());
        m_window->table()->rowActions()->reveal(m_window->table()->taskIdAt(0));
        QMessageBox *box = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((box = m_window->findChild<QMessageBox *>()) && box->isVisible(), 30000);
        picture(box, u"reveal-failed"_s);
        box->close();
    }
};

QTEST_MAIN(TestUiWindow)
#include "tst_ui_window.moc"
