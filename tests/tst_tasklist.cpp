#include "app/tasklist.h"
#include "app/tasktablemodel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

// A job list and the table model over it: row updates, removals in runs, the path index.
class TestTaskList final : public QObject
{
    Q_OBJECT

private:
    static TaskItem makeTask(const QString &path, ConversionMode mode = ConversionMode::jpegToJXL)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(path);
        task.mode = mode;
        task.originalSize = 4;
        return task;
    }

private slots:
    void tableModel()
    {
        TaskList list(ConversionMode::jpegToJXL);
        TaskTableModel model;
        model.setList(&list);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        list.append({makeTask(QStringLiteral("/m/a.jpg")), makeTask(QStringLiteral("/m/b.jpg")), makeTask(QStringLiteral("/m/c.jpg"))});

        TaskItem task = list.at(1);
        task.status = TaskStatus::completed;
        task.compressedSize = 1;
        QVERIFY(list.replace(task));
        QCOMPARE(changed.count(), 1); // that row alone
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(0)), model.index(1, 0));
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(1)), model.index(1, TaskTableModel::ColumnCount - 1));
        QCOMPARE(model.index(1, TaskTableModel::SavingsColumn).data().toString(), QString::fromUtf8("\u221275.0%"));
        list.remove({list.at(0).id});
        QCOMPARE(model.index(0, 0).data(TaskTableModel::IdRole).toUuid(), task.id);

        QStringList headers;
        TaskList restore(ConversionMode::jxlToJPEG);
        for (TaskList *shown : {&list, &restore}) {
            model.setList(shown);
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                headers.append(model.headerData(column, Qt::Horizontal).toString());
        }
        QCOMPARE(headers.join(QLatin1Char('|')),
                 QString::fromUtf8("名称|原始大小|压缩后大小|节省幅度|状态|名称|原始大小|还原后大小|复原效果|状态"));
    }

    void removalRuns_data()
    {
        QTest::addColumn<QList<int>>("removed");
        QTest::addColumn<QString>("announced"); // the row ranges as the signals give them
        QTest::newRow("one row") << QList<int>{3} << QStringLiteral("3-3");
        QTest::newRow("three runs") << QList<int>{0, 1, 4, 5, 6, 9} << QStringLiteral("0-1,2-4,4-4");
        QTest::newRow("all") << QList<int>{9, 0, 1, 2, 3, 4, 5, 6, 7, 8} << QStringLiteral("0-9");
        QTest::newRow("unknown id") << QList<int>{-1} << QString();
    }

    void removalRuns()
    {
        QFETCH(QList<int>, removed);
        TaskList list(ConversionMode::jpegToJXL);
        TaskTableModel model;
        model.setList(&list);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QList<TaskItem> tasks;
        for (int i = 0; i < 10; ++i)
            tasks.append(makeTask(QStringLiteral("/r/%1.jpg").arg(i)));
        tasks[7].destinationURL = QUrl::fromLocalFile(QStringLiteral("/r/7.jxl"));
        list.append(tasks);
        QSet<QUuid> ids{QUuid::createUuid()};
        for (const int row : removed)
            ids.insert(row < 0 ? QUuid::createUuid() : tasks.at(row).id);
        const QPersistentModelIndex kept = model.index(8, 0); // a selected row, say
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QStringList announced;
        const QMetaObject::Connection watch =
            connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [&](const QModelIndex &, int first, int last) {
            announced.append(QStringLiteral("%1-%2").arg(first).arg(last));
            for (int row = first; row <= last; ++row) // the rows named are the ones going
                QVERIFY(ids.contains(model.index(row, 0).data(TaskTableModel::IdRole).toUuid()));
        });

        QCOMPARE(list.remove(ids), qsizetype(std::count_if(removed.cbegin(), removed.cend(), [](int r) { return r >= 0; })));
        QTEST(announced.join(QLatin1Char(',')), "announced");
        QCOMPARE(reset.count(), 0);
        QCOMPARE(list.size(), 10 - qsizetype(ids.size()) + 1 + (removed.contains(-1) ? 1 : 0));
        for (qsizetype row = 0; row < list.size(); ++row)
            QCOMPARE(list.indexOf(list.at(row).id), row);
        QCOMPARE(kept.isValid(), !removed.contains(8));
        if (kept.isValid())
            QCOMPARE(kept.data(TaskTableModel::IdRole).toUuid(), tasks[8].id);
        // The path index follows: a removed job's source and destination are free again.
        QCOMPARE(list.containsPath(QStringLiteral("/r/7.jxl")), !removed.contains(7));
        QCOMPARE(list.containsPath(QStringLiteral("/r/0.jpg")), !removed.contains(0));
        disconnect(watch);
        list.clear();
        QVERIFY(list.isEmpty() && !list.containsPath(QStringLiteral("/r/2.jpg")));
        QCOMPARE(reset.count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTaskList)
#include "tst_tasklist.moc"
