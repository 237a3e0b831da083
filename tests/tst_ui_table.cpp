#include "app/importservice.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "englishtexts.h"
#include "layoutcheck.h"
#include "screenshots.h"
#include "testenv.h"
#include "ui/backgroundsorter.h"
#include "ui/emptycanvas.h"
#include "ui/namecollation.h"
#include "ui/previewwindow.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasksortkeys.h"
#include "ui/tasksortproxy.h"
#include "ui/tasktableview.h"
#include "ui/thumbnailcache.h"
#include "ui/windowstate.h"
#include "widgettexts.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include <memory>
#include <optional>

Q_DECLARE_METATYPE(TaskStatus)
Q_DECLARE_METATYPE(ConversionMode)
Q_DECLARE_METATYPE(TaskItem)

// The empty canvas, the job table and the preview window, driven as a user would: texts and
// badges per job state, sorting, the row menu, selection, drops in and drags out, thumbnails.
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

    static TaskItem makeTask(const QString &path, TaskStatus status = TaskStatus::pending,
                             ConversionMode mode = ConversionMode::jpegToJXL)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(path);
        task.mode = mode;
        task.status = status;
        task.originalSize = 2'000'000;
        if (status == TaskStatus::completed || status == TaskStatus::failed || status == TaskStatus::skipped) {
            const QFileInfo source(path);
            task.destinationURL = QUrl::fromLocalFile(source.path() + QLatin1Char('/') + source.completeBaseName()
                                                      + (mode == ConversionMode::jpegToJXL ? QStringLiteral(".jxl")
                                                                                           : QStringLiteral(".jpg")));
        }
        if (status == TaskStatus::completed) {
            task.compressedSize = 1'500'000;
            task.duration = 1.25;
        }
        if (status == TaskStatus::failed)
            task.errorMessage = QStringLiteral("cjxl: broken");
        return task;
    }

    TaskList *list(ConversionMode mode = ConversionMode::jpegToJXL) const { return m_workspace->tasks(mode); }

    QStringList namesInViewOrder() const
    {
        QStringList names;
        for (int row = 0; row < m_view->model()->rowCount(); ++row)
            names.append(m_view->model()->index(row, 0).data().toString());
        return names;
    }

    QList<QUuid> idsInViewOrder() const
    {
        QList<QUuid> ids;
        for (int row = 0; row < m_view->model()->rowCount(); ++row)
            ids.append(m_view->model()->index(row, 0).data(TaskTableModel::IdRole).toUuid());
        return ids;
    }

    // Every neighbouring pair of rows in the column's order, compared on the raw values (names by
    // the name order, tested on its own below); and every job of the list shown exactly once.
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
                qWarning("rows %d and %d out of order: %s, %s", row - 1, row, qPrintable(a.toString()),
                         qPrintable(b.toString()));
                return false;
            }
        }
        const QList<QUuid> shown = idsInViewOrder();
        QSet<QUuid> listed;
        for (const TaskItem &task : list()->items())
            listed.insert(task.id);
        return shown.size() == list()->size() && QSet<QUuid>(shown.cbegin(), shown.cend()) == listed;
    }

    // A list long enough to be sorted off the GUI thread, of assorted names, sizes and states.
    static QList<TaskItem> longList(int count, quint32 seed)
    {
        QRandomGenerator random(seed);
        const TaskStatus states[] = {TaskStatus::pending, TaskStatus::completed, TaskStatus::failed,
                                     TaskStatus::processing};
        QList<TaskItem> tasks;
        for (int i = 0; i < count; ++i) {
            const TaskStatus status = states[random.bounded(4)];
            TaskItem task = makeTask(QStringLiteral("/long/%1/IMG_%2.jpg").arg(i).arg(random.bounded(5000)), status);
            task.originalSize = 1000 + random.bounded(1000);
            if (task.compressedSize)
                task.compressedSize = random.bounded(int(task.originalSize));
            tasks.append(task);
        }
        return tasks;
    }

    static QStringList menuTexts(QMenu *menu)
    {
        QStringList texts;
        for (QAction *action : menu->actions())
            texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
        return texts;
    }

    // The item whose text, its mnemonic aside ("快速查看(&Q)"), is text.
    static QAction *menuAction(QMenu *menu, const QString &text, int occurrence = 0)
    {
        for (QAction *action : menu->actions()) {
            if (action->text().section(QStringLiteral("(&"), 0, 0) == text && occurrence-- == 0)
                return action;
        }
        return nullptr;
    }

    QString writeImage(const QString &name, Qt::GlobalColor color, const char *format = "jpeg")
    {
        QImage image(400, 300, QImage::Format_RGB32);
        image.fill(color);
        const QString path = m_root.filePath(QStringLiteral("photos/") + name);
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

    static QColor middleColour(const QImage &image)
    {
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    // JPEG moves colours a little.
    static bool isNear(const QColor &actual, const QColor &expected)
    {
        return qAbs(actual.red() - expected.red()) < 12 && qAbs(actual.green() - expected.green()) < 12
            && qAbs(actual.blue() - expected.blue()) < 12;
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
        m_view = std::make_unique<TaskTableView>(m_workspace.get(), m_imports.get(), m_tools.get(), nullptr,
                                                 m_windowState.get());
        m_opened.clear();
        m_revealed.clear();
        m_view->setFileActions({[this](const QUrl &url) {
                                    m_opened.append(url);
                                    return true;
                                },
                                [this](const QList<QUrl> &urls) { m_revealed.append(urls); }});
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

    void largeRemovalsStayConsistent_data()
    {
        QTest::addColumn<int>("step");  // every step-th row goes
        QTest::addColumn<int>("count"); // this many rows go
        QTest::addColumn<bool>("reset");
        QTest::newRow("a few rows, as rows") << 7 << 5 << false;
        QTest::newRow("many scattered rows, as a reset") << 3 << 200 << true;
        QTest::newRow("one long run, as a reset") << 1 << 3000 << true;
    }

    void largeRemovalsStayConsistent()
    {
        QFETCH(int, step);
        QFETCH(int, count);
        QFETCH(bool, reset);
        QList<TaskItem> tasks;
        for (int i = 0; i < 5000; ++i)
            tasks.append(makeTask(QStringLiteral("/p/%1.jpg").arg(i), i % 3 ? TaskStatus::pending : TaskStatus::failed));
        list()->append(tasks);
        m_view->sortByColumn(TaskTableModel::StatusColumn, Qt::AscendingOrder);
        QAbstractItemModelTester tester(m_view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Two selected rows that stay, one that goes.
        const QUuid staysA = list()->at(1).id;
        const QUuid staysB = list()->at(4999).id;
        m_workspace->setSelectedTaskIds({staysA, staysB, list()->at(0).id});
        QSet<QUuid> gone;
        for (int i = 0; gone.size() < count; i += step)
            if (i != 1)
                gone.insert(list()->at(i).id);
        QSignalSpy resets(m_view->model(), &QAbstractItemModel::modelReset);
        QList<QUuid> expectedOrder = idsInViewOrder();
        const QUuid first = list()->at(0).id;
        m_workspace->removeTask(*list()->find(first)); // the state drops its id itself
        gone.remove(first);
        list()->remove(gone);
        QCOMPARE(!resets.isEmpty(), reset);
        QCOMPARE(m_view->model()->rowCount(), int(list()->size()));
        // The rows that stay keep their order, ties included, reset or not.
        expectedOrder.removeIf([&](const QUuid &id) { return id == first || gone.contains(id); });
        QCOMPARE(idsInViewOrder(), expectedOrder);
        QCOMPARE(m_workspace->selectedTaskIds(), (QSet<QUuid>{staysA, staysB}));
        QCOMPARE(m_view->selectionModel()->selectedRows().size(), 2);
    }

    void longListsSortOffTheGuiThread_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::newRow("name, descending") << int(TaskTableModel::NameColumn) << Qt::DescendingOrder;
        QTest::newRow("result size, descending") << int(TaskTableModel::ResultSizeColumn) << Qt::DescendingOrder;
        QTest::newRow("savings") << int(TaskTableModel::SavingsColumn) << Qt::AscendingOrder;
        QTest::newRow("status") << int(TaskTableModel::StatusColumn) << Qt::AscendingOrder;
    }

    void longListsSortOffTheGuiThread()
    {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
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
        const QUuid selected = byName.at(123);
        m_workspace->setSelectedTaskIds({selected});
        sorted.clear();
        m_view->sortByColumn(column, order);
        // Until the sort lands the rows stay as they were.
        QVERIFY(proxy->isSorting());
        QCOMPARE(idsInViewOrder(), byName);
        QVERIFY(sorted.wait(20000));
        QVERIFY(viewShowsListSortedBy(column, order));
        // Ties keep the order they had: by name.
        const QList<QUuid> now = idsInViewOrder();
        for (int row = 1; row < now.size(); ++row) {
            const QModelIndex a = proxy->index(row - 1, column);
            const QModelIndex b = proxy->index(row, column);
            if (a.data(TaskTableModel::SortRole) == b.data(TaskTableModel::SortRole))
                QVERIFY2(byName.indexOf(now.at(row - 1)) < byName.indexOf(now.at(row)), qPrintable(QString::number(row)));
        }
        // The highlighted row followed its job.
        const QModelIndexList highlighted = m_view->selectionModel()->selectedRows();
        QCOMPARE(highlighted.size(), 1);
        QCOMPARE(highlighted.first().data(TaskTableModel::IdRole).toUuid(), selected);
    }

    void changesWhileALongListSortsArePlaced()
    {
        auto *proxy = m_view->sortProxy();
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder);
        list()->append(longList(TaskSortProxy::kSortInPlaceRows + 500, 11));
        QTRY_VERIFY_WITH_TIMEOUT(!proxy->isSorting(), 20000);
        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);

        QSignalSpy sorted(proxy, &TaskSortProxy::sorted);
        // Held, the sort run cannot land before the changes below are made, however fast it is.
        proxy->sorter()->setHeld(true);
        m_view->sortByColumn(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder);
        QVERIFY(proxy->isSorting());
        // The sort takes its snapshot from the event loop; then, while it runs: jobs finish (new
        // result sizes), photos arrive, rows go.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        QVERIFY(proxy->sorter()->isRunning());
        QRandomGenerator random(3);
        for (int i = 0; i < 200; ++i) { // fewer than the table announces as one span
            TaskItem task = list()->at(random.bounded(int(list()->size())));
            task.status = TaskStatus::completed;
            task.compressedSize = random.bounded(1000);
            list()->replace(task);
        }
        list()->append({makeTask(QStringLiteral("/late/a.jpg")), makeTask(QStringLiteral("/late/b.jpg"), TaskStatus::completed)});
        QSet<QUuid> gone;
        for (int i = 0; i < 10; ++i)
            gone.insert(list()->at(i * 997).id);
        list()->remove(gone);
        QVERIFY(proxy->isSorting());
        QVERIFY(sorted.isEmpty());
        proxy->sorter()->setHeld(false);
        QTRY_COMPARE_WITH_TIMEOUT(sorted.size(), 1, 20000);
        QTRY_VERIFY(viewShowsListSortedBy(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder));
        QCOMPARE(proxy->rowCount(), int(list()->size()));
    }

    void namesSortNaturallyWithoutCase_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<bool>("collator"); // the locale's collator orders, not the fallback
        QTest::newRow("C locale") << QLocale::c() << false;
        QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates) << true;
        QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China) << true;
    }

    void namesSortNaturallyWithoutCase()
    {
        QFETCH(QLocale, locale);
        QFETCH(bool, collator);
        const NameCollation names(locale);
        QCOMPARE(names.usesCollator(), collator);
        const QStringList sorted{QStringLiteral("a9b.jpg"),   QStringLiteral("a10b.jpg"), QStringLiteral("arith.jpg"),
                                 QStringLiteral("b.jpg"),     QStringLiteral("Canon_40D.jpg"),
                                 QStringLiteral("IMG_1.jpg"), QStringLiteral("img_2.jpg"), QStringLiteral("IMG_10.jpg"),
                                 QStringLiteral("IMG_0011.jpg"), QStringLiteral("Zebra.jpg")};
        for (qsizetype i = 0; i < sorted.size(); ++i) {
            for (qsizetype j = 0; j < sorted.size(); ++j) {
                const int expected = i < j ? -1 : (i > j ? 1 : 0);
                // Names compared one pair at a time order as their keys, which sort long lists.
                const QString pair = sorted.at(i) + QLatin1Char(' ') + sorted.at(j);
                QVERIFY2(names.compare(sorted.at(i), sorted.at(j)) == expected, qPrintable(pair));
                QVERIFY2(names.key(sorted.at(i)).compare(names.key(sorted.at(j))) == expected, qPrintable(pair));
            }
        }
        // Names that differ in case only, or in leading zeros only, tie: their rows keep their order.
        for (const auto &[a, b] : {std::pair{"IMG_2.JPG", "img_2.jpg"}, {"IMG_02.jpg", "IMG_2.jpg"}}) {
            QCOMPARE(names.compare(QString::fromUtf8(a), QString::fromUtf8(b)), 0);
            QCOMPARE(names.key(QString::fromUtf8(a)).compare(names.key(QString::fromUtf8(b))), 0);
        }
        // Beyond ASCII: letters fold their case, and characters outside the basic plane keep their place.
        QCOMPARE(names.compare(QStringLiteral("Ärger.jpg"), QStringLiteral("ärger.jpg")), 0);
        QCOMPARE(names.compare(QString::fromUtf8("照片 2.jpg"), QString::fromUtf8("照片 10.jpg")), -1);
        const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7 1.jpg");
        QCOMPARE(names.compare(emoji, emoji), 0);
        QCOMPARE(names.compare(emoji, QStringLiteral("a.jpg")), names.key(emoji).compare(names.key(QStringLiteral("a.jpg"))));
    }

    // A batch runs through a list sorted by a column whose values it does not change: no row
    // moves, from the first job started to the last one finished, outputs renamed or not. Sorted
    // by status, each row moves to its new status and there keeps the place the name order gives it.
    void rowsStayPutThroughABatch_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<Qt::SortOrder>("order");
        QTest::addColumn<int>("count");
        QTest::newRow("name, descending") << int(TaskTableModel::NameColumn) << Qt::DescendingOrder << 40;
        QTest::newRow("original size, descending")
            << int(TaskTableModel::OriginalSizeColumn) << Qt::DescendingOrder << 40;
        QTest::newRow("name, a long list") << int(TaskTableModel::NameColumn) << Qt::AscendingOrder
                                           << TaskSortProxy::kSortInPlaceRows + 200;
        QTest::newRow("status") << int(TaskTableModel::StatusColumn) << Qt::AscendingOrder << 40;
    }

    void rowsStayPutThroughABatch()
    {
        QFETCH(int, column);
        QFETCH(Qt::SortOrder, order);
        QFETCH(int, count);
        // Mixed case, numbers, and sizes with ties.
        const QStringList stems{QStringLiteral("arith"), QStringLiteral("Canon_PowerShot_S40"), QStringLiteral("big2"),
                                QStringLiteral("corrupt"), QStringLiteral("IMG_"), QStringLiteral("img_"),
                                QStringLiteral("Zeta"), QStringLiteral("b")};
        QList<TaskItem> tasks;
        for (int i = 0; i < count; ++i) {
            TaskItem task = makeTask(QStringLiteral("/p/%1/%2%3.jpg").arg(i).arg(stems.at(i % stems.size())).arg(i % 13));
            task.originalSize = 1'000'000 + (i % 7) * 1000;
            tasks.append(task);
        }
        list()->append(tasks);
        auto *proxy = m_view->sortProxy();
        m_view->sortByColumn(column, order);
        QTRY_VERIFY_WITH_TIMEOUT(!proxy->isSorting(), 20000);
        QVERIFY(viewShowsListSortedBy(column, order));
        QAbstractItemModelTester tester(proxy, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QList<QUuid> before = idsInViewOrder(); // by name, as the status is one for all
        const bool moves = column == TaskTableModel::StatusColumn;
        QSignalSpy moved(proxy, &QAbstractItemModel::layoutChanged);
        QSignalSpy reset(proxy, &QAbstractItemModel::modelReset);

        // Each job as a batch takes it: running, verifying, then finished (every third output took
        // another name) or failed; the table places rows between the steps.
        const auto step = [&](const TaskItem &task) {
            QVERIFY(list()->replace(task));
            QCoreApplication::sendPostedEvents(proxy, QEvent::MetaCall);
        };
        for (int i = 0; i < count; ++i) {
            TaskItem task = list()->at(i);
            task.status = TaskStatus::processing;
            step(task);
            task.status = TaskStatus::verifying;
            step(task);
            if (i % 5 == 4) {
                task.status = TaskStatus::failed;
                task.errorMessage = QStringLiteral("cjxl: broken");
            } else {
                const QFileInfo source(task.sourceURL.toLocalFile());
                task.status = TaskStatus::completed;
                task.destinationURL = QUrl::fromLocalFile(source.path() + QLatin1Char('/') + source.completeBaseName()
                                                          + (i % 3 ? QStringLiteral(".jxl") : QStringLiteral(" (1).jxl")));
                task.compressedSize = task.originalSize / 2 + i;
                task.isVerified = true;
            }
            step(task);
            // Reading every row back after each job is too slow for the long list: it is read at the end.
            if (count < 100 && !moves)
                QCOMPARE(idsInViewOrder(), before);
        }
        QTRY_VERIFY(!m_view->taskModel()->isHoldingUpdates());
        if (moves)
            std::stable_sort(before.begin(), before.end(),
                             [this](const QUuid &a, const QUuid &b) { return list()->find(a)->status < list()->find(b)->status; });
        QCOMPARE(idsInViewOrder(), before);
        QCOMPARE(moved.isEmpty(), !moves);
        QVERIFY(reset.isEmpty());
    }

    void updatedRowsFindTheirPlaceTogether()
    {
        // x and y grow past b in one batch of updates: x alone still sits between its old
        // neighbours a and y, yet belongs after b.
        QList<TaskItem> tasks;
        for (const auto &[name, size] : {std::pair{"a", 1}, {"x", 2}, {"y", 3}, {"b", 4}, {"z", 9}}) {
            TaskItem task = makeTask(QStringLiteral("/p/%1.jpg").arg(QLatin1String(name)), TaskStatus::completed);
            task.compressedSize = size;
            tasks.append(task);
        }
        list()->append(tasks);
        m_view->sortByColumn(TaskTableModel::ResultSizeColumn, Qt::AscendingOrder);
        QCOMPARE(namesInViewOrder().join(QLatin1Char(' ')), QStringLiteral("a.jpg x.jpg y.jpg b.jpg z.jpg"));
        QAbstractItemModelTester tester(m_view->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        // Both updates arrive before the table next puts rows in place.
        TaskItem x = list()->at(1);
        x.compressedSize = 5;
        list()->replace(x);
        TaskItem y = list()->at(2);
        y.compressedSize = 6;
        list()->replace(y);
        QTRY_COMPARE(namesInViewOrder().join(QLatin1Char(' ')), QStringLiteral("a.jpg b.jpg x.jpg y.jpg z.jpg"));
    }

    void sorting_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QString>("order");
        QTest::addColumn<TaskSortKey>("key");
        // a: pending 3 MB; b: completed 2 MB → 1.5 MB (25 %); e: failed 1 MB; c: processing 4 MB;
        // d: completed 2 MB → 1 MB (50 %). Ties keep the order of the sort before (by name).
        QTest::newRow("name") << int(TaskTableModel::NameColumn) << true << QStringLiteral("a b c d e")
                              << TaskSortKey::fileName;
        QTest::newRow("name, descending") << int(TaskTableModel::NameColumn) << false << QStringLiteral("e d c b a")
                                          << TaskSortKey::fileName;
        QTest::newRow("original size") << int(TaskTableModel::OriginalSizeColumn) << true
                                       << QStringLiteral("e b d a c") << TaskSortKey::originalSize;
        QTest::newRow("result size") << int(TaskTableModel::ResultSizeColumn) << true << QStringLiteral("a c e d b")
                                     << TaskSortKey::compressedSizeOrZero;
        QTest::newRow("savings") << int(TaskTableModel::SavingsColumn) << false << QStringLiteral("d b a c e")
                                 << TaskSortKey::savingsRatio;
        // Running first, then verifying, failed, waiting, finished.
        QTest::newRow("status") << int(TaskTableModel::StatusColumn) << true << QStringLiteral("c e a b d")
                                << TaskSortKey::status;
    }

    void sorting()
    {
        QFETCH(int, column);
        QFETCH(bool, ascending);
        QFETCH(QString, order);
        QFETCH(TaskSortKey, key);
        TaskItem a = makeTask(QStringLiteral("/p/a.jpg"));
        a.originalSize = 3'000'000;
        TaskItem b = makeTask(QStringLiteral("/p/b.jpg"), TaskStatus::completed);
        TaskItem e = makeTask(QStringLiteral("/p/e.jpg"), TaskStatus::failed);
        e.originalSize = 1'000'000;
        TaskItem c = makeTask(QStringLiteral("/p/c.jpg"), TaskStatus::processing);
        c.originalSize = 4'000'000;
        TaskItem d = makeTask(QStringLiteral("/p/d.jpg"), TaskStatus::completed);
        d.compressedSize = 1'000'000;
        list()->append({d, b, a, c, e});

        // Clicking the header: the view sorts and WindowState's sort order follows.
        m_view->horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
        QCOMPARE(namesInViewOrder().join(QLatin1Char(' ')).remove(QStringLiteral(".jpg")), order);
        QCOMPARE(m_windowState->sortOrder(), (QList<TaskSortDescriptor>{{key, ascending}}));
    }

    void rowMenu_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<int>("selectedWithIt"); // other rows selected together with this one
        QTest::addColumn<QString>("entries");
        QTest::addColumn<bool>("refused"); // its name is not UTF-8: never retried
        const QString common = QStringLiteral("快速查看(&Q)|---|用默认程序打开(&O)|在文件管理器中显示(&S)|拷贝文件路径(&P)");
        QTest::newRow("pending") << TaskStatus::pending << 0 << common + QStringLiteral("|---|从列表中移除(&M)") << false;
        QTest::newRow("completed") << TaskStatus::completed << 0 << common + QStringLiteral("|---|从列表中移除(&M)") << false;
        QTest::newRow("failed") << TaskStatus::failed << 0
                                << common + QStringLiteral("|复制错误信息(&E)|---|重新尝试此项目(&R)|---|从列表中移除(&M)") << false;
        QTest::newRow("failed, name refused") << TaskStatus::failed << 0
                                              << common + QStringLiteral("|复制错误信息(&E)|---|从列表中移除(&M)") << true;
        QTest::newRow("one of three selected")
            << TaskStatus::pending << 2 << common + QStringLiteral("|---|从列表中移除 3 个选中项(&M)") << false;
    }

    void rowMenu()
    {
        QFETCH(TaskStatus, status);
        QFETCH(int, selectedWithIt);
        QFETCH(QString, entries);
        QFETCH(bool, refused);
        ScanResult scan;
        scan.problems.append({ScanProblem::Kind::undecodableName, QStringLiteral("/p/x\\xFF.jpg"), 0, false});
        list()->append({refused ? FileScanner::importProblems(scan, ConversionMode::jpegToJXL).failedTasks.value(0)
                                : makeTask(QStringLiteral("/p/x.jpg"), status),
                        makeTask(QStringLiteral("/p/y.jpg")),
                        makeTask(QStringLiteral("/p/z.jpg"))});
        const QUuid id = list()->at(0).id;
        QSet<QUuid> selected;
        if (selectedWithIt > 0) {
            for (int row = 0; row <= selectedWithIt; ++row)
                selected.insert(list()->at(row).id);
        }
        m_workspace->setSelectedTaskIds(selected);
        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(id));
        QVERIFY(menu);
        QCOMPARE(menuTexts(menu.get()).join(QLatin1Char('|')), entries);
        if (QAction *retry = menuAction(menu.get(), QStringLiteral("重新尝试此项目")))
            QVERIFY(!retry->isEnabled()); // no tool found to retry with

        // The last entry removes this row alone, or exactly the selected rows.
        menu->actions().constLast()->trigger();
        QCOMPARE(list()->size(), qsizetype(selectedWithIt > 0 ? 0 : 2));
        QCOMPARE(list()->indexOf(id), qsizetype(-1));
        QVERIFY(m_workspace->selectedTaskIds().isEmpty());
    }

    void copyErrorsTakesEveryFailedSelectedRow()
    {
        TaskItem broken = makeTask(QStringLiteral("/p/b.jpg"), TaskStatus::failed);
        TaskItem unknown = makeTask(QStringLiteral("/q/a.jpg"), TaskStatus::failed);
        unknown.errorMessage.reset();
        const TaskItem waiting = makeTask(QStringLiteral("/p/c.jpg"));
        const TaskItem other = makeTask(QStringLiteral("/p/d.jpg"), TaskStatus::failed);
        list()->append({broken, waiting, unknown, other});
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder);
        QGuiApplication::clipboard()->clear();

        // A failed row alone: its own path and reason.
        std::unique_ptr<QMenu> alone(m_view->makeRowMenu(other.id));
        menuAction(alone.get(), QStringLiteral("复制错误信息"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/p/d.jpg：cjxl: broken"));

        // Part of a selection: every failed row selected, in table order; the waiting one has no error.
        m_workspace->setSelectedTaskIds({broken.id, waiting.id, unknown.id});
        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(broken.id));
        menuAction(menu.get(), QStringLiteral("复制错误信息"))->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/q/a.jpg：未知错误\n/p/b.jpg：cjxl: broken"));
        // A row that did not fail offers nothing to copy.
        std::unique_ptr<QMenu> waitingMenu(m_view->makeRowMenu(waiting.id));
        QVERIFY(!menuAction(waitingMenu.get(), QStringLiteral("复制错误信息")));
    }

    void rowMenuActsOnItsJobAfterRowsMove()
    {
        list()->append({makeTask(QStringLiteral("/p/b.jpg")), makeTask(QStringLiteral("/p/a.jpg"))});
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder);
        const QUuid b = list()->at(0).id;
        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(b));
        // The rows swap places before the user picks an entry.
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::DescendingOrder);
        menuAction(menu.get(), QStringLiteral("从列表中移除"))->trigger();
        QCOMPARE(list()->size(), qsizetype(1));
        QCOMPARE(list()->at(0).fileName(), QStringLiteral("a.jpg"));
        // Its job gone, the menu's entries do nothing.
        menuAction(menu.get(), QStringLiteral("用默认程序打开"))->trigger();
        menuAction(menu.get(), QStringLiteral("从列表中移除"))->trigger();
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(list()->size(), qsizetype(1));
    }

    void fileActionsUseOutputOnlyWhenCompleted_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<bool>("output");
        QTest::newRow("completed") << TaskStatus::completed << true;
        QTest::newRow("failed with a destination") << TaskStatus::failed << false;
        QTest::newRow("processing with a destination") << TaskStatus::processing << false;
        QTest::newRow("pending") << TaskStatus::pending << false;
    }

    void fileActionsUseOutputOnlyWhenCompleted()
    {
        QFETCH(TaskStatus, status);
        QFETCH(bool, output);
        TaskItem task = makeTask(QStringLiteral("/p/x.jpg"), status);
        // A destination that may name someone else's file.
        task.destinationURL = QUrl::fromLocalFile(QStringLiteral("/p/x.jxl"));
        list()->append({task});
        const QUrl expected = output ? *task.destinationURL : task.sourceURL;

        std::unique_ptr<QMenu> menu(m_view->makeRowMenu(task.id));
        menuAction(menu.get(), QStringLiteral("用默认程序打开"))->trigger();
        menuAction(menu.get(), QStringLiteral("在文件管理器中显示"))->trigger();
        menuAction(menu.get(), QStringLiteral("快速查看"))->trigger();
        menuAction(menu.get(), QStringLiteral("拷贝文件路径"))->trigger();
        QCOMPARE(m_opened, QList<QUrl>{expected});
        QCOMPARE(m_revealed, QList<QUrl>{expected});
        QCOMPARE(m_windowState->previewItemURL(), std::optional<QUrl>(expected));
        QCOMPARE(m_view->model()->index(0, 0).data(TaskTableModel::ShownFileRole).toUrl(), expected);
        // The copied path is always the source's.
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("/p/x.jpg"));

        // Double-click and the status cell's button do the same as the menu.
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        const QRect nameCell = m_view->visualRect(m_view->model()->index(0, 0));
        QTest::mouseDClick(m_view->viewport(), Qt::LeftButton, {}, nameCell.center());
        const QRect statusCell = m_view->visualRect(m_view->model()->index(0, TaskTableModel::StatusColumn));
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, TaskRowDelegate::revealButtonRect(statusCell).center());
        QCOMPARE(m_opened, (QList<QUrl>{expected, expected}));
        QCOMPARE(m_revealed, (QList<QUrl>{expected, expected}));
    }

    void selectionIsTheState()
    {
        QList<TaskItem> tasks;
        for (const char *name : {"a", "b", "c", "d", "e"})
            tasks.append(makeTask(QStringLiteral("/p/%1.jpg").arg(QLatin1String(name))));
        list()->append(tasks);
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::DescendingOrder);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->setFocus();

        // Ctrl+A in the table selects every job, and every row shows it.
        QTest::keyClick(m_view.get(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(m_workspace->selectedTaskIds().size(), 5);
        QCOMPARE(m_view->selectionModel()->selectedRows().size(), 5);

        // The workspace's select-all (the menu's) shows in the table too.
        m_workspace->setSelectedTaskIds({});
        QVERIFY(m_view->selectionModel()->selectedRows().isEmpty());
        m_workspace->selectAllTasks();
        QCOMPARE(m_view->selectionModel()->selectedRows().size(), 5);

        // A click selects one row; Ctrl-clicks add rows; the state follows.
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, m_view->visualRect(m_view->model()->index(1, 1)).center());
        QTest::mouseClick(m_view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          m_view->visualRect(m_view->model()->index(3, 1)).center());
        const QSet<QUuid> picked{m_view->taskIdAt(1), m_view->taskIdAt(3)};
        QCOMPARE(m_workspace->selectedTaskIds(), picked);

        // Delete removes exactly the highlighted rows.
        QTest::keyClick(m_view.get(), Qt::Key_Delete);
        QCOMPARE(list()->size(), qsizetype(3));
        for (const QUuid &id : picked)
            QCOMPARE(list()->indexOf(id), qsizetype(-1));
        QVERIFY(m_view->selectionModel()->selectedRows().isEmpty());

        // After a removal elsewhere (a model reset) the highlighted rows are still the workspace's.
        m_workspace->setSelectedTaskIds({list()->at(0).id, list()->at(2).id});
        list()->remove({list()->at(1).id});
        QCOMPARE(m_view->selectionModel()->selectedRows().size(), 2);

        // Switching the mode clears both.
        m_workspace->switchMode(ConversionMode::jxlToJPEG);
        QVERIFY(m_view->selectionModel()->selectedRows().isEmpty());
        QVERIFY(m_workspace->selectedTaskIds().isEmpty());
    }

    void spaceShowsThePreviewAndThePreviewClosesWithEscape_data()
    {
        QTest::addColumn<QString>("unreadable");
        QTest::newRow("Chinese") << QStringLiteral("无法预览此文件");
        QTest::newRow("English") << QStringLiteral("Cannot preview this file");
    }

    void spaceShowsThePreviewAndThePreviewClosesWithEscape()
    {
        const QString photo = writeImage(QStringLiteral("preview.jpg"), Qt::darkCyan);
        list()->append({makeTask(photo)});
        PreviewWindow preview(m_windowState.get());
        QVERIFY(!preview.isVisible());
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_workspace->setSelectedTaskIds({list()->at(0).id});
        m_view->setFocus();
        QSignalSpy loaded(&preview, &PreviewWindow::loaded);
        QTest::keyClick(m_view.get(), Qt::Key_Space);
        QCOMPARE(m_windowState->previewItemURL(), std::optional<QUrl>(QUrl::fromLocalFile(photo)));
        QVERIFY(preview.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isLoading(), 10000);
        QCOMPARE(loaded.size(), 1);
        QVERIFY(isNear(middleColour(preview.image()), Qt::darkCyan));
        QCOMPARE(preview.windowTitle(), QStringLiteral("preview.jpg"));
        // A real photo for the picture people look at.
        m_windowState->setPreviewItemURL(QUrl::fromLocalFile(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"))));
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isLoading(), 10000);
        QVERIFY(!preview.image().isNull());
        preview.resize(480, 360);
        Screenshots::save(&preview, EnglishTexts::screensFolder() + QStringLiteral("preview"));

        QTest::keyClick(&preview, Qt::Key_Escape);
        QVERIFY(!preview.isVisible());
        QCOMPARE(m_windowState->previewItemURL(), std::nullopt);
        // An unreadable file says so instead of showing nothing.
        m_windowState->setPreviewItemURL(QUrl::fromLocalFile(m_root.filePath(QStringLiteral("missing.jpg"))));
        QTRY_VERIFY(!preview.isLoading());
        QTEST(preview.statusText(), "unreadable");
        QTest::keyClick(&preview, Qt::Key_Space);
        QCOMPARE(m_windowState->previewItemURL(), std::nullopt);
    }

    void drops_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<int>("possible");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("added");
        const QStringList local{QStringLiteral("local")};
        const QStringList web{QStringLiteral("https://example.com/a.jpg")};
        const QStringList mixed{QStringLiteral("local"), QStringLiteral("https://example.com/a.jpg")};
        for (const QString &target : {QStringLiteral("canvas"), QStringLiteral("table")}) {
            const QByteArray name = target.toUtf8();
            QTest::addRow("%s, file, copy or move", name.constData()) << target << local << int(Qt::CopyAction | Qt::MoveAction) << true << 1;
            QTest::addRow("%s, file and web address", name.constData()) << target << mixed << int(Qt::CopyAction) << true << 1;
            QTest::addRow("%s, web address only", name.constData()) << target << web << int(Qt::CopyAction) << false << 0;
            QTest::addRow("%s, move only", name.constData()) << target << local << int(Qt::MoveAction) << false << 0;
        }
    }

    void drops()
    {
        QFETCH(QString, target);
        QFETCH(QStringList, urls);
        QFETCH(int, possible);
        QFETCH(bool, accepted);
        QFETCH(int, added);
        const QString photo = writeImage(QStringLiteral("dropped.jpg"), Qt::red);
        QList<QUrl> dropped;
        for (const QString &url : urls)
            dropped.append(url == QLatin1String("local") ? QUrl::fromLocalFile(photo) : QUrl(url));
        QMimeData mime;
        mime.setUrls(dropped);

        EmptyCanvas canvas(m_workspace.get(), m_imports.get());
        if (target == QLatin1String("table"))
            list()->append({makeTask(QStringLiteral("/p/other.jpg"))});
        QWidget *widget = target == QLatin1String("canvas") ? static_cast<QWidget *>(&canvas) : m_view->viewport();
        const QPoint at(20, 20);
        const auto actions = Qt::DropActions(possible);
        // A file manager proposes a move when both are allowed.
        const Qt::DropAction proposed = actions & Qt::MoveAction ? Qt::MoveAction : Qt::CopyAction;

        QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, {});
        enter.setDropAction(proposed);
        QApplication::sendEvent(widget, &enter);
        QCOMPARE(enter.isAccepted(), accepted);
        if (accepted) {
            QCOMPARE(enter.dropAction(), Qt::CopyAction);
            QCOMPARE(canvas.isDropTargeted(), target == QLatin1String("canvas"));
        }

        QDropEvent drop(at, actions, &mime, Qt::LeftButton, {});
        drop.setDropAction(proposed);
        const qsizetype before = list()->size();
        const int imported = importAndWait([&] {
            QApplication::sendEvent(widget, &drop);
        });
        QCOMPARE(drop.isAccepted(), accepted);
        if (accepted) {
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
            QCOMPARE(imported, added);
        } else {
            QCOMPARE(imported, -1); // no import started
        }
        QCOMPARE(list()->size(), before + added);
        QVERIFY(!canvas.isDropTargeted());
    }

    void dragOutCopiesFinishedPhotosOnly()
    {
        list()->append({makeTask(QStringLiteral("/p/done.jpg"), TaskStatus::completed),
                        makeTask(QStringLiteral("/p/failed.jpg"), TaskStatus::failed),
                        makeTask(QStringLiteral("/p/waiting.jpg"))});
        QAbstractItemModel *model = m_view->model();
        m_view->sortByColumn(TaskTableModel::NameColumn, Qt::AscendingOrder); // done, failed, waiting
        QCOMPARE(model->supportedDragActions(), Qt::DropActions(Qt::CopyAction));
        QVERIFY(model->flags(model->index(0, 0)) & Qt::ItemIsDragEnabled);
        QVERIFY(!(model->flags(model->index(1, 0)) & Qt::ItemIsDragEnabled));
        QVERIFY(!(model->flags(model->index(2, 0)) & Qt::ItemIsDragEnabled));

        QModelIndexList all;
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                all.append(model->index(row, column));
        std::unique_ptr<QMimeData> mime(model->mimeData(all));
        QVERIFY(mime);
        QCOMPARE(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/p/done.jxl"))});
        std::unique_ptr<QMimeData> none(model->mimeData({model->index(1, 0), model->index(2, 0)}));
        QVERIFY(!none);
    }

    void lateThumbnailIsNotShownOnAnotherFile()
    {
        ThumbnailCache cache;
        m_view->setThumbnailCache(&cache);
        const QString source = writeImage(QStringLiteral("late.jpg"), Qt::red);
        const QString output = writeImage(QStringLiteral("late.jxl"), Qt::blue, "png");
        list()->append({makeTask(source)});
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
        QVERIFY(!cache.image(source).isNull());
        QCOMPARE(shownOnArrival.size(), 2);
        for (const QColor &colour : std::as_const(shownOnArrival))
            QVERIFY2(!isNear(colour, Qt::red), qPrintable(colour.name()));
        QVERIFY2(isNear(shownColour(), Qt::blue), qPrintable(shownColour().name()));
        m_view->setThumbnailCache(nullptr);
    }

    void thumbnailsOnlyForRowsOnScreen()
    {
        ThumbnailCache cache;
        m_view->setThumbnailCache(&cache);
        QList<TaskItem> tasks;
        for (int i = 0; i < 400; ++i)
            tasks.append(makeTask(m_root.filePath(QStringLiteral("none/%1.jpg").arg(i, 3, 10, QLatin1Char('0')))));
        list()->append(tasks);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->viewport()->repaint();
        const int onScreen = m_view->viewport()->height() / TaskRowDelegate::kRowHeight + 2;
        QTRY_VERIFY(cache.queuedCount() + cache.runningCount() == 0);
        QVERIFY2(cache.hasFailed(m_root.filePath(QStringLiteral("none/000.jpg"))), "a missing file is remembered as failed");
        QVERIFY(!cache.hasFailed(m_root.filePath(QStringLiteral("none/%1.jpg").arg(onScreen + 5, 3, 10, QLatin1Char('0')))));
        m_view->setThumbnailCache(nullptr);
    }

    void canvasTexts_data()
    {
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<QStringList>("texts"); // title, subtitle, buttons, title while a drop hovers
        const QStringList chinese{QStringLiteral("选择文件夹…"), QStringLiteral("选择照片…"), QStringLiteral("松开以添加照片")};
        const QStringList english{QStringLiteral("Choose Folder…"), QStringLiteral("Choose Photos…"), QStringLiteral("Release to add photos")};
        QTest::newRow("compress") << ConversionMode::jpegToJXL
                                  << QStringList{QStringLiteral("拖放照片或文件夹到此处"), QStringLiteral("省下 20% 以上空间，画质与拍摄信息完好如初")} + chinese;
        QTest::newRow("restore") << ConversionMode::jxlToJPEG
                                 << QStringList{QStringLiteral("拖放 JXL 照片到此处"), QStringLiteral("精确复原为原始 JPEG 照片")} + chinese;
        QTest::newRow("compress, English") << ConversionMode::jpegToJXL
                                           << QStringList{QStringLiteral("Drop photos or folders here"),
                                                          QStringLiteral("Save 20% or more space, with image quality and metadata intact")} + english;
        QTest::newRow("restore, English") << ConversionMode::jxlToJPEG
                                          << QStringList{QStringLiteral("Drop JXL photos here"), QStringLiteral("Restore the exact original JPEG photos")} + english;
    }

    // The empty page's texts, as it waits and while a drop hovers over it; nothing cut off.
    void canvasTexts()
    {
        QFETCH(ConversionMode, mode);
        QFETCH(QStringList, texts);
        EmptyCanvas canvas(m_workspace.get(), m_imports.get());
        m_workspace->switchMode(mode);
        const auto shown = [&canvas] {
            QStringList labels;
            for (QLabel *label : canvas.findChildren<QLabel *>())
                labels.append(label->textFormat() == Qt::PlainText ? label->text() : QStringLiteral("rich text"));
            return labels + WidgetTexts::visibleTexts<QPushButton>(&canvas);
        };
        QCOMPARE(shown(), texts.first(4));
        canvas.resize(640, 400);
        canvas.show();
        QVERIFY(QTest::qWaitForWindowExposed(&canvas));
        const QString name = EnglishTexts::screensFolder() + QStringLiteral("canvas-");
        QCOMPARE(LayoutCheck::clippedTexts(&canvas), QStringList());
        Screenshots::save(&canvas, name + (mode == ConversionMode::jpegToJXL ? QStringLiteral("compress") : QStringLiteral("restore")));

        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(writeImage(QStringLiteral("hover.jpg"), Qt::red))});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(&canvas, &enter);
        QVERIFY(canvas.isDropTargeted());
        QCOMPARE(shown().constFirst(), texts.constLast());
        QCOMPARE(LayoutCheck::clippedTexts(&canvas), QStringList());
        if (mode == ConversionMode::jpegToJXL)
            Screenshots::save(&canvas, name + QStringLiteral("drop-highlight"));
    }

    void canvasButtonsOpenImportDialogs_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<QString>("filter");
        QTest::newRow("folders") << 0 << ConversionMode::jpegToJXL << int(QFileDialog::Directory) << QString();
        QTest::newRow("photos") << 1 << ConversionMode::jpegToJXL << int(QFileDialog::ExistingFiles)
                                << QStringLiteral("*.jpg");
        QTest::newRow("JXL photos") << 1 << ConversionMode::jxlToJPEG << int(QFileDialog::ExistingFiles)
                                    << QStringLiteral("*.jxl");
    }

    void canvasButtonsOpenImportDialogs()
    {
        QFETCH(int, button);
        QFETCH(ConversionMode, mode);
        QFETCH(int, fileMode);
        QFETCH(QString, filter);
        const QString folder = QFileInfo(writeImage(QStringLiteral("panel/a.jpg"), Qt::red)).absolutePath();
        TestEnv::writeAll(folder + QStringLiteral("/b.jxl"), "not really");
        m_workspace->switchMode(mode);
        EmptyCanvas canvas(m_workspace.get(), m_imports.get());
        canvas.show();
        canvas.findChildren<QPushButton *>().at(button)->click();
        auto *dialog = canvas.findChild<QFileDialog *>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(int(dialog->fileMode()), fileMode);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("导入"));
        QVERIFY(filter.isEmpty() || dialog->nameFilters().join(QLatin1Char(' ')).contains(filter));

        // The path typed and Enter pressed, as a user confirms (the dialog's own listing runs in
        // the background); what the dialog then reports is imported.
        const QString picked = fileMode == int(QFileDialog::Directory)
                                   ? folder
                                   : folder + (mode == ConversionMode::jpegToJXL ? QStringLiteral("/a.jpg")
                                                                                 : QStringLiteral("/b.jxl"));
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        name->setFocus(); // unfocused, the dialog rewrites it with what its list selects
        const int added = importAndWait([&] {
            QTest::keyClicks(name, picked);
            QTest::keyClick(name, Qt::Key_Return);
        });
        QCOMPARE(added, 1);
        QCOMPARE(list(mode)->size(), qsizetype(1));
    }

    void screenshotsOfTheTable_data()
    {
        QTest::addColumn<QString>("warning"); // as the trash gives it
        QTest::newRow("Chinese") << QStringLiteral("无法将“Pentax_K10D.jpg”移至回收站");
        QTest::newRow("English") << QStringLiteral("Cannot move “Pentax_K10D.jpg” to the Trash");
    }

    void screenshotsOfTheTable()
    {
        QFETCH(QString, warning);
        const QString folder = EnglishTexts::screensFolder();
        // Real photos, so that the pictures show their thumbnails.
        ThumbnailCache cache;
        m_view->setThumbnailCache(&cache);
        QList<TaskItem> idle;
        for (const char *name : {"Canon_40D.jpg", "Nikon_D70.jpg", "Fujifilm_FinePix_E500.jpg", "Pentax_K10D.jpg",
                                 "Sony_HDR-HC3.jpg"})
            idle.append(makeTask(TestEnv::dataPath(QStringLiteral("jpeg/cameras/") + QLatin1String(name))));
        idle.append(makeTask(QStringLiteral("/photos/<font color=red>not red.jpg")));
        list()->append(idle);
        m_view->resize(760, 280);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->viewport()->repaint();
        QTRY_VERIFY(cache.queuedCount() + cache.runningCount() == 0);
        Screenshots::save(m_view.get(), folder + QStringLiteral("table-idle"));

        const TaskStatus running[] = {TaskStatus::completed, TaskStatus::completed, TaskStatus::processing,
                                      TaskStatus::verifying, TaskStatus::pending, TaskStatus::pending};
        for (int row = 0; row < 6; ++row) {
            TaskItem task = makeTask(list()->at(row).sourceURL.toLocalFile(), running[row]);
            task.id = list()->at(row).id;
            task.compressedSize = task.originalSize * (60 + row * 5) / 100;
            task.destinationURL = task.sourceURL; // an output that exists, for its thumbnail
            list()->replace(task);
        }
        m_workspace->setSelectedTaskIds({list()->at(1).id});
        QTRY_VERIFY(!m_view->taskModel()->isHoldingUpdates());
        m_view->viewport()->repaint();
        QTRY_VERIFY(cache.queuedCount() + cache.runningCount() == 0);
        Screenshots::save(m_view.get(), folder + QStringLiteral("table-processing"));

        const TaskStatus finished[] = {TaskStatus::completed, TaskStatus::completed, TaskStatus::failed,
                                       TaskStatus::completed, TaskStatus::failed, TaskStatus::completed};
        for (int row = 0; row < 6; ++row) {
            TaskItem task = makeTask(list()->at(row).sourceURL.toLocalFile(), finished[row]);
            task.id = list()->at(row).id;
            if (row == 3)
                task.warning = warning;
            task.destinationURL = task.sourceURL;
            list()->replace(task);
        }
        m_workspace->setSelectedTaskIds({});
        m_workspace->switchMode(ConversionMode::jxlToJPEG);
        m_workspace->switchMode(ConversionMode::jpegToJXL);
        Screenshots::save(m_view.get(), folder + QStringLiteral("table-failures"));
        // File names are painted and shown as they are, never as markup.
        const QModelIndex marked = m_view->model()->index(m_view->rowOf(list()->at(5).id), 0);
        QCOMPARE(marked.data().toString(), QStringLiteral("<font color=red>not red.jpg"));
        const QRect cell = m_view->visualRect(marked);
        QHelpEvent help(QEvent::ToolTip, cell.center(), m_view->viewport()->mapToGlobal(cell.center()));
        QStyleOptionViewItem option;
        option.rect = cell;
        QVERIFY(m_view->itemDelegate()->helpEvent(&help, m_view.get(), option, marked));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("<p style='white-space:pre'>/photos/&lt;font color=red&gt;not red.jpg</p>"));
        QToolTip::hideText();

        // A re-run: photos a former run had done, skipped beside this run's results.
        for (int row = 0; row < 2; ++row) {
            TaskItem task = list()->at(row);
            task.status = TaskStatus::skipped;
            list()->replace(task);
        }
        m_view->resize(720, 160);
        Screenshots::save(m_view.get(), folder + QStringLiteral("table-skipped-rows"));
        m_view->setThumbnailCache(nullptr);
    }
};

QTEST_MAIN(TestUiTable)
#include "tst_ui_table.moc"
