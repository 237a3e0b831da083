#include "app/importservice.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "englishtexts.h"
#include "layoutcheck.h"
#include "sampletasks.h"
#include "screenshots.h"
#include "testenv.h"
#include "testpictures.h"
#include "ui/backgroundsorter.h"
#include "ui/emptycanvas.h"
#include "ui/namecollation.h"
#include "ui/previewwindow.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasksortproxy.h"
#include "ui/tasktableview.h"
#include "ui/thumbnailcache.h"
#include "ui/windowstate.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <array>
#include <memory>
#include <optional>

using namespace Qt::StringLiterals;
using SampleTasks::make;

Q_DECLARE_METATYPE(TaskStatus)
Q_DECLARE_METATYPE(ConversionMode)

// The empty canvas, the job table and the preview window, driven as a user would: sorting in the
// view, the row menu, selection, drops in, thumbnails, and pictures of each state. What a row
// reads is tst_tasklist's, without a window.
class TestUiTable final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    // Only what the table reads: the lists, imports, and a tool probe that finds nothing.
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<ImportService> m_imports;
    std::unique_ptr<ToolStatus> m_tools;
    std::unique_ptr<WindowState> m_windowState;
    std::unique_ptr<TaskTableView> m_view;
    std::optional<EnglishTexts> m_english;
    QList<QUrl> m_opened;
    QList<QUrl> m_revealed;

    TaskList *list(ConversionMode mode = ConversionMode::jpegToJXL) const { return m_workspace->tasks(mode); }

    QList<QUuid> idsInViewOrder() const
    {
        QList<QUuid> ids;
        for (int row = 0; row < m_view->model()->rowCount(); ++row)
            ids.append(m_view->taskIdAt(row));
        return ids;
    }

    QString namesInViewOrder() const
    {
        QStringList names;
        for (const QUuid &id : idsInViewOrder())
            names.append(list()->find(id)->fileName().chopped(4));
        return names.join(u' ');
    }

    // Every neighbouring pair of rows in the column's order, compared on the raw values (names by
    // the name order); and every job of the list shown exactly once.
    bool viewShowsListSortedBy(int column, Qt::SortOrder order) const
    {
        const NameCollation collator;
        const QAbstractItemModel *model = m_view->model();
        for (int row = 1; row < model->rowCount(); ++row) {
            const QVariant a = model->index(row - 1, column).data(TaskTableModel::SortRole);
            const QVariant b = model->index(row, column).data(TaskTableModel::SortRole);
            const int compared = column == TaskTableModel::NameColumn
                ? collator.compare(a.toString(), b.toString())
                : (a.toDouble() < b.toDouble() ? -1 : (b.toDouble() < a.toDouble() ? 1 : 0));
            if (order == Qt::AscendingOrder ? compared > 0 : compared < 0) {
                qWarning("rows %d and %d out of order: %s, %s", row - 1, row, qPrintable(a.toString()), qPrintable(b.toString()));
                return false;
            }
        }
        const QList<QUuid> shown = idsInViewOrder();
        return QSet<QUuid>(shown.cbegin(), shown.cend()).size() == list()->size()
            && std::all_of(shown.cbegin(), shown.cend(), [this](const QUuid &id) { return list()->indexOf(id) >= 0; });
    }

    // A list long enough to be sorted off the GUI thread, of assorted names, sizes and states.
    static QList<TaskItem> longList(int count, quint32 seed)
    {
        QRandomGenerator random(seed);
        const TaskStatus states[] = {TaskStatus::pending, TaskStatus::completed, TaskStatus::failed, TaskStatus::processing};
        QList<TaskItem> tasks;
        for (int i = 0; i < count; ++i) {
            TaskItem task = make(u"/long/%1/IMG_%2.jpg"_s.arg(i).arg(random.bounded(5000)), states[random.bounded(4)]);
            task.originalSize = 1000 + random.bounded(1000);
            if (task.compressedSize)
                task.compressedSize = random.bounded(int(task.originalSize));
            tasks.append(task);
        }
        return tasks;
    }

    // The item whose text, its mnemonic aside ("快速查看(&Q)"), is text.
    static QAction *menuAction(QMenu *menu, const QString &text)
    {
        for (QAction *action : menu->actions()) {
            if (action->text().section(u"(&"_s, 0, 0) == text)
                return action;
        }
        return nullptr;
    }

    QString writeImage(const QString &name, Qt::GlobalColor color, const char *format = "jpeg")
    {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(color);
        const QString path = m_root.filePath(u"photos/"_s + name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!image.save(path, format))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    int importAndWait(const std::function<void()> &drop)
    {
        QSignalSpy finished(m_imports.get(), &ImportService::importFinished);
        drop();
        // importURLs marks the scan at once: no scan, no import to wait for.
        if (finished.isEmpty() && (!m_imports->isScanning() || !finished.wait(10000)))
            return -1;
        return finished.first().first().toInt();
    }

    // JPEG moves colours a little.
    static bool isNear(const QColor &actual, const QColor &expected) { return TestPictures::near(actual, expected, 11); }

    // Hovers a cell as the mouse does; true once its tool tip shows.
    bool hover(const QModelIndex &index)
    {
        const QRect cell = m_view->visualRect(index);
        QHelpEvent help(QEvent::ToolTip, cell.center(), m_view->viewport()->mapToGlobal(cell.center()));
        QStyleOptionViewItem option;
        option.rect = cell;
        return m_view->itemDelegate()->helpEvent(&help, m_view.get(), option, index) && QTest::qWaitFor([] { return QToolTip::isVisible(); });
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.path());
    }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        m_settings = std::make_unique<SettingsStore>(HardwareInfo());
        m_workspace = std::make_unique<Workspace>();
        m_imports = std::make_unique<ImportService>(m_workspace.get(), [](const QString &) { return false; });
        m_tools = std::make_unique<ToolStatus>(m_settings.get(), QStringList());
        m_windowState = std::make_unique<WindowState>();
        m_view = std::make_unique<TaskTableView>(m_workspace.get(), m_imports.get(), m_tools.get(), nullptr, m_windowState.get());
        m_opened.clear();
        m_revealed.clear();
        const auto open = [this](const QUrl &url) { m_opened.append(url); return true; };
        m_view->setFileActions({open, [this](const QList<QUrl> &urls) { m_revealed.append(urls); }});
        m_view->resize(760, 360);
    }

    void cleanup()
    {
        m_view.reset();
        m_imports.reset();
        m_tools.reset();
        m_workspace.reset();
        m_settings.reset();
        m_windowState.reset();
        m_english.reset(); // after the widgets that show its texts
    }

    void longListsSortOffTheGuiThread()
    {
        const int column = TaskTableModel::StatusColumn; // many ties
        auto *proxy = m_view->sortProxy();
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder);
        list()->append(longList(50, 5));
        QSignalSpy sorted(proxy, &TaskSortProxy::sorted);
        list()->append(longList(TaskSortProxy::kSortInPlaceRows + 2000, 7));
        // Never shown out of order: a large import's rows wait for their sort.
        QCOMPARE(proxy->rowCount(), 50);
        QVERIFY(sorted.wait(20000));
        QVERIFY(viewShowsListSortedBy(TaskTableModel::NameColumn, Qt::AscendingOrder));
        // Another list shown and back: sorted again before it shows.
        m_workspace->switchMode(ConversionMode::jxlToJPEG);
        QCOMPARE(proxy->rowCount(), 0);
        m_workspace->switchMode(ConversionMode::jpegToJXL);
        QTRY_COMPARE_WITH_TIMEOUT(proxy->rowCount(), int(list()->size()), 20000);
        QVERIFY(viewShowsListSortedBy(TaskTableModel::NameColumn, Qt::AscendingOrder));

        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QList<QUuid> byName = idsInViewOrder();
        m_workspace->setSelectedTaskIds({byName.at(123)});
        sorted.clear();
        m_view->sortByColumn(column, Qt::DescendingOrder);
        // Until the sort lands the rows stay as they were.
        QVERIFY(proxy->isSorting());
        QCOMPARE(idsInViewOrder(), byName);
        QVERIFY(sorted.wait(20000));
        QVERIFY(viewShowsListSortedBy(column, Qt::DescendingOrder)); // ties in name order: tst_gui_tasksort's
        // The highlighted row followed its job.
        const QModelIndexList highlighted = m_view->selectionModel()->selectedRows();
        QCOMPARE(highlighted.size(), 1);
        QCOMPARE(highlighted.first().data(TaskTableModel::IdRole).toUuid(), byName.at(123));

        // Jobs finish (new result sizes), photos arrive and rows go while a sort runs. Held, the run
        // cannot land before these changes, however fast it is; when it lands, all are in place.
        sorted.clear();
        proxy->sorter()->setHeld(true);
        m_view->sortByColumn(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall); // the run takes its snapshot
        QVERIFY(proxy->sorter()->isRunning());
        QRandomGenerator random(3);
        for (int i = 0; i < 200; ++i) { // fewer than the table announces as one span
            TaskItem task = list()->at(random.bounded(int(list()->size())));
            task.status = TaskStatus::completed;
            task.compressedSize = random.bounded(1000);
            list()->replace(task);
        }
        list()->append({make(u"/late/a.jpg"_s), make(u"/late/b.jpg"_s, TaskStatus::completed)});
        QSet<QUuid> gone;
        for (int i = 0; i < 10; ++i)
            gone.insert(list()->at(i * 997).id);
        list()->remove(gone);
        QVERIFY(proxy->isSorting() && sorted.isEmpty());
        proxy->sorter()->setHeld(false);
        QTRY_COMPARE_WITH_TIMEOUT(sorted.size(), 1, 20000);
        QTRY_VERIFY(viewShowsListSortedBy(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder));

        // Many rows removed, in one long run or in many runs, come as a reset: the rows that stay
        // keep their order, ties included, and the highlighted row its highlight.
        for (const auto &[step, count] : {std::pair{1, 2500}, {5, 600}}) {
            QSignalSpy resets(proxy, &QAbstractItemModel::modelReset);
            QList<QUuid> expected = idsInViewOrder();
            QSet<QUuid> gone;
            for (int row = 200; gone.size() < count; row += step)
                gone.insert(list()->at(row).id);
            gone.remove(byName.at(123));
            list()->remove(gone);
            QVERIFY(!resets.isEmpty());
            expected.removeIf([&gone](const QUuid &id) { return gone.contains(id); });
            QCOMPARE(idsInViewOrder(), expected);
            QCOMPARE(m_view->selectionModel()->selectedRows().size(), 1);
        }
    }

    // A batch runs through a list sorted by a column whose values it does not change: no row
    // moves, from the first job started to the last one finished, outputs renamed or not.
    void rowsStayPutThroughABatch_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<int>("count");
        QTest::newRow("name, descending") << int(TaskTableModel::NameColumn) << Qt::DescendingOrder << 40;
        QTest::newRow("name, a long list") << int(TaskTableModel::NameColumn) << Qt::AscendingOrder
                                           << TaskSortProxy::kSortInPlaceRows + 200;
    }

    void rowsStayPutThroughABatch()
    {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        QFETCH(int, count);
        // Mixed case, numbers, and sizes with ties.
        const QStringList stems{u"arith"_s, u"Canon_PowerShot_S40"_s, u"big2"_s, u"corrupt"_s, u"IMG_"_s, u"img_"_s, u"Zeta"_s, u"b"_s};
        QList<TaskItem> tasks;
        for (int i = 0; i < count; ++i) {
            tasks.append(make(u"/p/%1/%2%3.jpg"_s.arg(i).arg(stems.at(i % stems.size())).arg(i % 13)));
            tasks.last().originalSize = 1'000'000 + (i % 7) * 1000;
        }
        list()->append(tasks);
        auto *proxy = m_view->sortProxy();
        m_view->sortByColumn(column, order);
        QTRY_VERIFY_WITH_TIMEOUT(!proxy->isSorting(), 20000);
        QVERIFY(viewShowsListSortedBy(column, order));
        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QList<QUuid> before = idsInViewOrder();
        QSignalSpy moved(proxy, &QAbstractItemModel::layoutChanged);
        QSignalSpy reset(proxy, &QAbstractItemModel::modelReset);

        // Each job as a batch takes it: running, verifying, then finished (every third output took
        // another name) or failed; the table places rows between the steps.
        for (int i = 0; i < count; ++i) {
            const TaskItem task = list()->at(i);
            const QString path = task.sourceURL.toLocalFile();
            const TaskStatus end = i % 5 == 4 ? TaskStatus::failed : TaskStatus::completed;
            for (const TaskStatus status : {TaskStatus::processing, TaskStatus::verifying, end}) {
                TaskItem next = make(path, status);
                std::tie(next.id, next.originalSize) = std::tie(task.id, task.originalSize);
                if (status == TaskStatus::completed && i % 3 == 0)
                    next.destinationURL = QUrl::fromLocalFile(path.chopped(4) + u" (1).jxl"_s);
                QVERIFY(list()->replace(next));
                QCoreApplication::sendPostedEvents(proxy, QEvent::MetaCall);
            }
            // Reading every row back after each job is too slow for the long list: it is read at the end.
            if (count < 100)
                QCOMPARE(idsInViewOrder(), before);
        }
        QTRY_VERIFY(!m_view->taskModel()->isHoldingUpdates());
        QCOMPARE(idsInViewOrder(), before);
        QVERIFY(moved.isEmpty() && reset.isEmpty());
    }

    // Clicking a header sorts the view by that column, either way, and WindowState's sort order
    // follows. Rows updated at once find their place together: x and y grow past b in one batch
    // of updates, and x alone would still sit between its old neighbours a and y.
    void headerClicksSort()
    {
        QList<TaskItem> tasks;
        for (const auto &[name, size] : {std::pair{"a", 1}, {"x", 2}, {"y", 3}, {"b", 4}, {"z", 9}}) {
            tasks.append(make(u"/p/%1.jpg"_s.arg(QLatin1String(name)), TaskStatus::completed));
            std::tie(tasks.last().compressedSize, tasks.last().originalSize) = std::tuple(size, 20 - size * size % 7);
        }
        list()->append(tasks);
        using K = TaskSortKey;
        const K keys[] = {K::fileName, K::originalSize, K::compressedSizeOrZero, K::savingsRatio, K::status};
        for (int column = 0; column < TaskTableModel::ColumnCount; ++column) {
            for (const Qt::SortOrder order : {Qt::DescendingOrder, Qt::AscendingOrder}) {
                m_view->horizontalHeader()->setSortIndicator(column, order);
                QVERIFY(viewShowsListSortedBy(column, order));
                QCOMPARE(m_windowState->sortOrder().constFirst(), (TaskSortDescriptor{keys[column], order == Qt::AscendingOrder}));
            }
        }
        m_view->sortByColumn(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder);
        QCOMPARE(namesInViewOrder(), u"a x y b z"_s);
        QAbstractItemModelTester tester(m_view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (const int row : {1, 2}) { // both before the table next puts rows in place
            TaskItem grown = list()->at(row);
            grown.compressedSize = 4 + row;
            list()->replace(grown);
        }
        QTRY_COMPARE(namesInViewOrder(), u"a b x y z"_s);
    }

    // The entries of a row's menu by the job's state; copying the errors takes every failed row
    // selected, in the table's order; removing takes the row, or all the selected ones.
    void rowMenu_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<bool>("selected"); // with two other rows
        QTest::addColumn<bool>("refused");  // its name is not UTF-8: never retried
        QTest::addColumn<QString>("entries");
        QTest::addColumn<QString>("copied");
        const QString open = u"快速查看(&Q)|---|用默认程序打开(&O)|在文件管理器中显示(&S)|拷贝文件路径(&P)"_s;
        const QString remove = u"|---|从列表中移除(&M)"_s;
        const QString error = u"/p/x.jpg：cjxl: broken"_s;
        QTest::newRow("done") << TaskStatus::completed << false << false << open + remove << QString();
        QTest::newRow("failed") << TaskStatus::failed << false << false << open + u"|复制错误信息(&E)|---|重新尝试此项目(&R)"_s + remove << error;
        QTest::newRow("failed, name refused") << TaskStatus::failed << false << true << open + u"|复制错误信息(&E)"_s + remove
                                              << u"/p/x.jpg：文件名不是有效的 UTF-8 编码，无法处理"_s;
        QTest::newRow("failed, one of three selected") << TaskStatus::failed << true << false
                                                       << open + u"|复制错误信息(&E)|---|重新尝试此项目(&R)|---|从列表中移除 3 个选中项(&M)"_s
                                                       << u"/q/a.jpg：未知错误\n"_s + error;
    }

    void rowMenu()
    {
        QFETCH(TaskStatus, status);
        QFETCH(bool, selected);
        QFETCH(bool, refused);
        TaskItem unknown = make(u"/q/a.jpg"_s, TaskStatus::failed); // listed after x, shown before it
        unknown.errorMessage.reset();
        list()->append({refused ? SampleTasks::refused(u"/p/x.jpg"_s) : make(u"/p/x.jpg"_s, status),
                        unknown, make(u"/p/z.jpg"_s)});
        const QUuid id = list()->at(0).id;
        m_workspace->setSelectedTaskIds(selected ? QSet<QUuid>{id, unknown.id, list()->at(2).id} : QSet<QUuid>{});
        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(id));
        QVERIFY(menu);
        QStringList texts;
        for (QAction *action : menu->actions())
            texts.append(action->isSeparator() ? u"---"_s : action->text());
        QTEST(texts.join(u'|'), "entries");
        if (QAction *retry = menuAction(menu.get(), u"重新尝试此项目"_s))
            QVERIFY(!retry->isEnabled()); // no tool found to retry with
        QGuiApplication::clipboard()->clear();
        if (QAction *copy = menuAction(menu.get(), u"复制错误信息"_s))
            copy->trigger();
        QTEST(QGuiApplication::clipboard()->text(), "copied");

        menu->actions().constLast()->trigger();
        QCOMPARE(list()->size(), qsizetype(selected ? 0 : 2));
        QCOMPARE(list()->indexOf(id), qsizetype(-1));
        QVERIFY(m_workspace->selectedTaskIds().isEmpty());
    }

    void fileActionsUseOutputOnlyWhenCompleted_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<bool>("output");
        QTest::newRow("completed") << TaskStatus::completed << true;
        QTest::newRow("failed with a destination") << TaskStatus::failed << false;
    }

    // The row menu, a double-click and the status cell's button act on the job's output once it
    // is done, else on its source; on the menu's job even after rows moved, and on nothing once it is gone.
    void fileActionsUseOutputOnlyWhenCompleted()
    {
        QFETCH(TaskStatus, status);
        QFETCH(bool, output);
        TaskItem task = make(u"/p/x.jpg"_s, status);
        task.destinationURL = QUrl::fromLocalFile(u"/p/x.jxl"_s); // it may name someone else's file
        list()->append({task, make(u"/p/a.jpg"_s)});
        const QUrl expected = output ? *task.destinationURL : task.sourceURL;
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder);
        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(task.id));
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::DescendingOrder); // before an entry is picked
        for (const QString &entry : {u"用默认程序打开"_s, u"在文件管理器中显示"_s, u"快速查看"_s, u"拷贝文件路径"_s})
            menuAction(menu.get(), entry)->trigger();
        QCOMPARE(m_opened, QList<QUrl>{expected});
        QCOMPARE(m_revealed, QList<QUrl>{expected});
        QCOMPARE(m_windowState->previewItemURL(), std::optional<QUrl>(expected));
        QCOMPARE(QGuiApplication::clipboard()->text(), u"/p/x.jpg"_s); // always the source's path

        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, m_view->visualRect(m_view->model()->index(0, 0)).center());
        const QRect statusCell = m_view->visualRect(m_view->model()->index(0, TaskTableModel::StatusColumn));
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, TaskRowDelegate::revealButtonRect(statusCell).center());
        QCOMPARE(m_opened, (QList<QUrl>{expected, expected}));
        QCOMPARE(m_revealed, (QList<QUrl>{expected, expected}));

        menuAction(menu.get(), u"从列表中移除"_s)->trigger();
        QCOMPARE(list()->indexOf(task.id), qsizetype(-1));
        menuAction(menu.get(), u"用默认程序打开"_s)->trigger(); // its job gone: nothing to act on
        menuAction(menu.get(), u"从列表中移除"_s)->trigger();
        QVERIFY(m_opened.size() == 2 && list()->size() == 1);
    }

    void selectionIsTheState()
    {
        list()->append({make(u"/p/a.jpg"_s), make(u"/p/b.jpg"_s), make(u"/p/c.jpg"_s), make(u"/p/d.jpg"_s), make(u"/p/e.jpg"_s)});
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::DescendingOrder);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->setFocus();

        // A click selects one row; Ctrl-clicks add rows; the state follows.
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, m_view->visualRect(m_view->model()->index(1, 1)).center());
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          m_view->visualRect(m_view->model()->index(3, 1)).center());
        const QSet<QUuid> picked{m_view->taskIdAt(1), m_view->taskIdAt(3)};
        QCOMPARE(m_workspace->selectedTaskIds(), picked);
        // Delete removes exactly the highlighted rows.
        QTest::keyClick(m_view.get(), Qt::Key_Delete);
        QVERIFY(list()->size() == 3 && std::none_of(picked.cbegin(), picked.cend(), [this](const QUuid &id) { return list()->indexOf(id) >= 0; }));
        QVERIFY(m_view->selectionModel()->selectedRows().isEmpty());

        // A selection made elsewhere (the menu's, the state's) shows in the table.
        m_workspace->setSelectedTaskIds({list()->at(0).id, list()->at(2).id});
        QCOMPARE(m_view->selectionModel()->selectedRows().size(), 2);
    }

    // A drop on the empty page or the table takes a copy of the local files it carries; one with
    // none, or that allows only a move, is refused.
    void drops_data()
    {
        QTest::addColumn<bool>("onCanvas");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("possible");
        QTest::addColumn<int>("added"); // 0: the drop is refused
        const QString web = u"https://example.com/a.jpg"_s;
        QTest::newRow("canvas, copy or move") << true << QStringList{u"local"_s} << int(Qt::CopyAction | Qt::MoveAction) << 1;
        QTest::newRow("table, file and web address") << false << QStringList{u"local"_s, web} << int(Qt::CopyAction) << 1;
        QTest::newRow("canvas, web address only") << true << QStringList{web} << int(Qt::CopyAction) << 0;
        QTest::newRow("table, move only") << false << QStringList{u"local"_s} << int(Qt::MoveAction) << 0;
    }

    void drops()
    {
        QFETCH(bool, onCanvas);
        QFETCH(QStringList, urls);
        QFETCH(int, added);
        QList<QUrl> dropped;
        for (const QString &url : urls)
            dropped.append(url == "local"_L1 ? QUrl::fromLocalFile(writeImage(u"dropped.jpg"_s, Qt::red)) : QUrl(url));
        QMimeData mime;
        mime.setUrls(dropped);
        EmptyCanvas canvas(m_workspace.get(), m_imports.get());
        QWidget *widget = onCanvas ? static_cast<QWidget *>(&canvas) : m_view->viewport();
        QFETCH(int, possible);
        const auto actions = Qt::DropActions(possible);
        // A file manager proposes a move when both are allowed; the drop takes a copy or nothing.
        const Qt::DropAction proposed = actions & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction;
        QDragEnterEvent enter(QPoint(20, 20), actions, &mime, Qt::LeftButton, {});
        enter.setDropAction(proposed);
        QApplication::sendEvent(widget, &enter);
        QCOMPARE(canvas.isDropTargeted(), onCanvas && added > 0);
        QDropEvent drop(QPoint(20, 20), actions, &mime, Qt::LeftButton, {});
        drop.setDropAction(proposed);
        const int imported = importAndWait([&] { QApplication::sendEvent(widget, &drop); });
        QVERIFY(enter.isAccepted() == (added > 0) && drop.isAccepted() == (added > 0));
        if (added > 0)
            QVERIFY(enter.dropAction() == Qt::CopyAction && drop.dropAction() == Qt::CopyAction);
        QCOMPARE(imported, added > 0 ? added : -1); // -1: no import started
        QCOMPARE(list()->size(), qsizetype(added));
        QVERIFY(!canvas.isDropTargeted());
    }

    // A thumbnail that arrives after its row changed file is not shown on the other file.
    void thumbnailsOfRowsOnScreen()
    {
        ThumbnailCache cache;
        m_view->setThumbnailCache(&cache);
        const QString source = writeImage(u"late.jpg"_s, Qt::red);
        const QString output = writeImage(u"late.jxl"_s, Qt::blue, "png");
        list()->append({make(source)});
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        // The middle of the row's thumbnail square, as painted.
        const auto shownColour = [&] {
            const QRect cell = m_view->visualRect(m_view->model()->index(0, 0));
            const QImage painted = m_view->viewport()->grab().toImage();
            return painted.pixelColor(cell.left() + 8 + TaskRowDelegate::kThumbnailSize / 2, cell.center().y());
        };
        // Whenever a thumbnail arrives, the row must show its own file's picture or none.
        QList<QColor> shownOnArrival;
        connect(&cache, &ThumbnailCache::thumbnailReady, this, [&] { shownOnArrival.append(shownColour()); });
        m_view->viewport()->repaint(); // the row on screen asks for its thumbnail
        QCOMPARE(cache.runningCount() + cache.queuedCount(), qsizetype(1));

        // The job finishes before the source's thumbnail arrives: the row now shows the output.
        TaskItem done = list()->at(0);
        done.status = TaskStatus::completed;
        done.destinationURL = QUrl::fromLocalFile(output);
        done.compressedSize = 10;
        list()->replace(done);
        QTRY_COMPARE(ready.size(), 2);
        QVERIFY(!cache.image(source).isNull() && shownOnArrival.size() == 2);
        for (const QColor &colour : std::as_const(shownOnArrival))
            QVERIFY2(!isNear(colour, Qt::red), qPrintable(colour.name()));
        QVERIFY2(isNear(shownColour(), Qt::blue), qPrintable(shownColour().name()));

        // Only the rows on screen ask for thumbnails, however long the list.
        QList<TaskItem> tasks;
        for (int i = 0; i < 400; ++i)
            tasks.append(make(m_root.filePath(u"none/%1.jpg"_s.arg(i, 3, 10, '0'_L1))));
        list()->clear();
        list()->append(tasks);
        m_view->viewport()->repaint();
        const int onScreen = m_view->viewport()->height() / TaskRowDelegate::kRowHeight + 2;
        QTRY_VERIFY(cache.queuedCount() + cache.runningCount() == 0);
        QVERIFY2(cache.hasFailed(m_root.filePath(u"none/000.jpg"_s)), "a missing file is remembered as failed");
        QVERIFY(!cache.hasFailed(m_root.filePath(u"none/%1.jpg"_s.arg(onScreen + 5, 3, 10, '0'_L1))));
        m_view->setThumbnailCache(nullptr);
    }

    void canvasButtonsOpenImportDialogs_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<QString>("picked"); // in the folder of photos
        QTest::addColumn<QString>("filter");
        QTest::newRow("folders") << 0 << ConversionMode::jpegToJXL << QString() << QString();
        QTest::newRow("JXL photos") << 1 << ConversionMode::jxlToJPEG << u"/b.jxl"_s << u"*.jxl"_s;
    }

    void canvasButtonsOpenImportDialogs()
    {
        QFETCH(int, button);
        QFETCH(ConversionMode, mode);
        QFETCH(QString, picked);
        QFETCH(QString, filter);
        const QString folder = QFileInfo(writeImage(u"panel/a.jpg"_s, Qt::red)).absolutePath();
        TestEnv::writeAll(folder + u"/b.jxl"_s, "not really");
        m_workspace->switchMode(mode);
        EmptyCanvas canvas(m_workspace.get(), m_imports.get());
        canvas.show();
        canvas.findChildren<QPushButton *>().at(button)->click();
        auto *dialog = canvas.findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(dialog->fileMode(), picked.isEmpty() ? QFileDialog::Directory : QFileDialog::ExistingFiles);
        QVERIFY(dialog->nameFilters().join(u' ').contains(filter));

        // The path typed and Enter pressed, as a user confirms (the dialog's own listing runs in
        // the background); what the dialog then reports is imported.
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        QVERIFY(name);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        name->setFocus(); // unfocused, the dialog rewrites it with what its list selects
        const int added = importAndWait([&] {
            QTest::keyClicks(name, folder + picked);
            QTest::keyClick(name, Qt::Key_Return);
        });
        QCOMPARE(added, 1);
        QCOMPARE(list(mode)->size(), qsizetype(1));
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("warning"); // as the trash gives it
        QTest::newRow("Chinese") << u"无法将“Pentax_K10D.jpg”移至回收站"_s;
        QTest::newRow("English") << u"Cannot move “Pentax_K10D.jpg” to the Trash"_s;
    }

    // The empty page; the table idle, in a batch, with failures and skipped rows; rows that need
    // their folders and long tool tips; the preview, which Space opens and Escape closes.
    void screenshots()
    {
        QFETCH(QString, warning);
        const QString folder = EnglishTexts::screensFolder();
        {
            // The empty page in each direction, nothing cut off; a drop hovering over it changes its title.
            EmptyCanvas canvas(m_workspace.get(), m_imports.get());
            canvas.resize(640, 400);
            canvas.show();
            QVERIFY(QTest::qWaitForWindowExposed(&canvas));
            for (const auto &[mode, name] : {std::pair{ConversionMode::jxlToJPEG, "restore"}, {ConversionMode::jpegToJXL, "compress"}}) {
                m_workspace->switchMode(mode);
                QCOMPARE(LayoutCheck::clippedTexts(&canvas), QStringList());
                Screenshots::save(&canvas, folder + u"canvas-"_s + QLatin1String(name));
            }
            const auto title = [&canvas] { return canvas.findChildren<QLabel *>().constFirst()->text(); };
            const QString waiting = title();
            QMimeData mime;
            mime.setUrls({QUrl::fromLocalFile(writeImage(u"hover.jpg"_s, Qt::red))});
            QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, {});
            QApplication::sendEvent(&canvas, &enter);
            QVERIFY(canvas.isDropTargeted() && title() != waiting);
            QCOMPARE(LayoutCheck::clippedTexts(&canvas), QStringList());
            Screenshots::save(&canvas, folder + u"canvas-drop-highlight"_s);
        }
        // Real photos, so that the pictures show their thumbnails.
        ThumbnailCache cache;
        m_view->setThumbnailCache(&cache);
        QList<TaskItem> idle;
        for (const char *name : {"Canon_40D.jpg", "Nikon_D70.jpg", "Fujifilm_FinePix_E500.jpg", "Pentax_K10D.jpg", "Sony_HDR-HC3.jpg"})
            idle.append(make(TestEnv::dataPath(u"jpeg/cameras/"_s + QLatin1String(name))));
        idle.append(make(u"/photos/<font color=red>not red.jpg"_s));
        list()->append(idle);
        m_view->resize(760, 280);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        const auto settle = [&] {
            QTRY_VERIFY(!m_view->taskModel()->isHoldingUpdates());
            m_view->viewport()->repaint();
            QTRY_VERIFY(cache.queuedCount() + cache.runningCount() == 0);
        };
        settle();
        Screenshots::save(m_view.get(), folder + u"table-idle"_s);

        const auto setStates = [&](std::array<TaskStatus, 6> states) {
            for (int row = 0; row < 6; ++row) {
                TaskItem task = make(list()->at(row).sourceURL.toLocalFile(), states.at(size_t(row)));
                task.id = list()->at(row).id;
                task.compressedSize = task.originalSize * (60 + row * 5) / 100;
                task.destinationURL = task.sourceURL; // an output that exists, for its thumbnail
                if (row == 3 && task.status == TaskStatus::completed)
                    task.warning = warning;
                list()->replace(task);
            }
        };
        using S = TaskStatus;
        setStates({S::completed, S::completed, S::processing, S::verifying, S::pending, S::pending});
        m_workspace->setSelectedTaskIds({list()->at(1).id});
        settle();
        Screenshots::save(m_view.get(), folder + u"table-processing"_s);
        setStates({S::completed, S::completed, S::failed, S::completed, S::failed, S::completed});
        m_workspace->setSelectedTaskIds({});
        settle();
        Screenshots::save(m_view.get(), folder + u"table-failures"_s);
        // File names are painted and shown as they are, never as markup.
        const QModelIndex marked = m_view->model()->index(m_view->rowOf(list()->at(5).id), 0);
        QCOMPARE(marked.data().toString(), u"<font color=red>not red.jpg"_s);
        QVERIFY(hover(marked));
        QCOMPARE(QToolTip::text(), u"<p style='white-space:pre'>/photos/&lt;font color=red&gt;not red.jpg</p>"_s);
        QToolTip::hideText();
        // A re-run: photos a former run had done, skipped beside this run's results.
        setStates({S::skipped, S::skipped, S::failed, S::completed, S::failed, S::completed});
        m_view->resize(720, 160);
        settle();
        Screenshots::save(m_view.get(), folder + u"table-skipped-rows"_s);

        // Space previews the selected row's photo; Escape closes the preview.
        PreviewWindow preview(m_windowState.get());
        const TaskItem canon = list()->at(0);
        m_workspace->setSelectedTaskIds({canon.id});
        m_view->setFocus();
        QTest::keyClick(m_view.get(), Qt::Key_Space);
        QCOMPARE(m_windowState->previewItemURL(), std::optional<QUrl>(canon.sourceURL));
        QVERIFY(preview.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isLoading(), 10000);
        QCOMPARE(preview.image().size(), QImage(canon.sourceURL.toLocalFile()).size());
        preview.resize(480, 360);
        Screenshots::save(&preview, folder + u"preview"_s);
        QTest::keyClick(&preview, Qt::Key_Escape);
        QVERIFY(!preview.isVisible());
        QCOMPARE(m_windowState->previewItemURL(), std::nullopt);
        // An unreadable file says so instead of showing nothing.
        m_windowState->setPreviewItemURL(QUrl::fromLocalFile(m_root.filePath(u"missing.jpg"_s)));
        QTRY_VERIFY(!preview.isLoading());
        QVERIFY(!preview.statusText().isEmpty());
        QTest::keyClick(&preview, Qt::Key_Space);
        QCOMPARE(m_windowState->previewItemURL(), std::nullopt);

        // Rows of one name told apart by their folders, a size unknown, a refused name, and the
        // check of a new JXL failed with one of djxl's long messages.
        m_view->setThumbnailCache(nullptr);
        list()->clear();
        TaskItem djxl = make(u"/home/user/Pictures/2019/summer/IMG.jpg"_s, TaskStatus::failed);
        djxl.errorMessage = (m_english ? u"djxl failed"_s : u"djxl 失败"_s)
            + u": JPEG XL decoder: Failed to decode /home/user/Pictures/2019/summer/holiday-in-the-mountains-with-the-"
              "family-and-the-dog/IMG.jxl: the codestream ends before the frame it announces, and no JPEG "
              "reconstruction data was found (exit status 1)"_s;
        TaskItem unknown = make(u"/home/user/Pictures/2020/summer/IMG.jpg"_s);
        unknown.originalSize = TaskItem::kUnknownSize;
        const TaskItem refused = SampleTasks::refused(u"/home/user/Pictures/caf\\xE9.jpg"_s, 2'345'678);
        list()->append({djxl, unknown, make(u"/home/user/Pictures/2019/winter/IMG.jpg"_s, TaskStatus::completed), refused,
                        make(u"/home/user/Pictures/Canon_40D.jpg"_s)});
        m_view->resize(760, 200);
        settle();
        Screenshots::save(m_view.get(), folder + u"table-rows-lists"_s);
        for (const auto &[id, name] : {std::pair{refused.id, "refused"}, std::pair{djxl.id, "error"}}) {
            QVERIFY(hover(m_view->model()->index(m_view->rowOf(id), TaskTableModel::StatusColumn)));
            QWidget *tip = nullptr;
            for (QWidget *widget : QApplication::topLevelWidgets())
                tip = widget->inherits("QTipLabel") && widget->isVisible() ? widget : tip;
            QVERIFY(tip);
            QVERIFY2(tip->width() <= m_view->screen()->availableGeometry().width(), qPrintable(QString::number(tip->width())));
            Screenshots::save(tip, folder + u"table-rows-%1-tooltip"_s.arg(QLatin1String(name)));
            if (id == refused.id)
                QToolTip::hideText();
        }
        // A long message is broken into lines of a readable width, and nothing of it is lost at the breaks.
        QTextDocument document;
        document.setHtml(QToolTip::text());
        const QStringList lines = document.toPlainText().split(u'\n');
        QVERIFY2(lines.size() >= 3, qPrintable(lines.join(u'|')));
        const QFontMetrics metrics(QToolTip::font());
        for (const QString &line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= metrics.averageCharWidth() * TaskRowDelegate::kToolTipChars + 2, qPrintable(line));
        QCOMPARE(lines.join(QString()).remove(u' '), QString(*djxl.errorMessage).remove(u' '));
        QToolTip::hideText();
    }
};

QTEST_MAIN(TestUiTable)
#include "tst_ui_table.moc"
