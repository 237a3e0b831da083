#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "ui/backgroundsorter.h"
#include "ui/namecollation.h"
#include "ui/tasksortkeys.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <numeric>

using namespace Qt::StringLiterals;

// The table's order without the table: names in a person's order, the sort keys (stable, earlier
// clicks breaking ties) and the background sorter, of whose runs only the latest lands.
class TestGuiTaskSort final : public QObject
{
    Q_OBJECT

    // Rows 0..n-1: statuses cycling failed, completed, pending; originals 1000 + n % 7 bytes.
    static void fill(TaskList &list, int count)
    {
        QList<TaskItem> items;
        for (int i = 0; i < count; ++i) {
            TaskItem task;
            task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/photos/%1.jpg").arg(i, 4, 10, QLatin1Char('0')));
            task.status = std::array{TaskStatus::failed, TaskStatus::completed, TaskStatus::pending}[size_t(i % 3)];
            task.originalSize = 1000 + i % 7;
            items.append(task);
        }
        list.append(items);
    }

    static std::vector<int> allRows(int count)
    {
        std::vector<int> rows(size_t(count), 0);
        std::iota(rows.begin(), rows.end(), 0);
        return rows;
    }

private slots:
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
        const NameCollation names(locale);
        QTEST(names.usesCollator(), "collator");
        // Each pair compares as its sort keys (which sort long lists) do; names that differ in case
        // only, or in leading zeros only, tie, so that their rows keep their order.
        const auto order = [&names](const QString &a, const QString &b) {
            const int compared = names.compare(a, b);
            return compared == names.key(a).compare(names.key(b)) ? compared : 99;
        };
        const QStringList sorted = u"a9b a10b arith b Canon_40D IMG_1 img_2 IMG_10 IMG_0011 Zebra"_s.split(u' ');
        for (qsizetype i = 0; i < sorted.size(); ++i) {
            for (qsizetype j = 0; j < sorted.size(); ++j)
                QVERIFY2(order(sorted.at(i), sorted.at(j)) == (i < j ? -1 : (i > j ? 1 : 0)), qPrintable(sorted.at(i) + u' ' + sorted.at(j)));
        }
        QCOMPARE(order(u"IMG_2.JPG"_s, u"img_2.jpg"_s), 0);
        QCOMPARE(order(u"IMG_02.jpg"_s, u"IMG_2.jpg"_s), 0);
        // Beyond ASCII: letters fold their case, and characters outside the basic plane keep their place.
        QCOMPARE(order(u"Ärger.jpg"_s, u"ärger.jpg"_s), 0);
        QCOMPARE(order(u"照片 2.jpg"_s, u"照片 10.jpg"_s), -1);
        const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7 1.jpg");
        QCOMPARE(order(emoji, emoji), 0);
        QVERIFY(order(emoji, u"a.jpg"_s) != 99);
    }

    // Rows that tie keep the order of the click before, back to the list's own: a sort must be
    // stable, or rows jump about at every status change.
    void tiesKeepTheirOrder()
    {
        TaskList list(ConversionMode::jpegToJXL);
        fill(list, 300);
        const TaskSortKeys byStatus = TaskSortKeys().resortedBy(TaskTableModel::StatusColumn, Qt::AscendingOrder);
        const std::vector<int> rows = byStatus.sorted(byStatus.snapshot(list, allRows(300))).rows;
        QCOMPARE(rows.size(), size_t(300));
        for (size_t i = 1; i < rows.size(); ++i) {
            const TaskItem &a = list.at(rows[i - 1]);
            const TaskItem &b = list.at(rows[i]);
            QVERIFY(sortRank(a.status) <= sortRank(b.status));
            if (a.status == b.status)
                QVERIFY2(rows[i - 1] < rows[i], qPrintable(QStringLiteral("rows %1, %2").arg(rows[i - 1]).arg(rows[i])));
            // A single row placed among the others compares as the whole sort ordered it.
            QVERIFY(byStatus.compare(a, b, [] { return 0; }) <= 0);
        }

        // Size, then status clicked: within a status, the larger originals first, then the list's order.
        const TaskSortKeys both = TaskSortKeys(TaskTableModel::OriginalSizeColumn, Qt::DescendingOrder)
                                      .resortedBy(TaskTableModel::StatusColumn, Qt::AscendingOrder);
        QCOMPARE(both.column(), int(TaskTableModel::StatusColumn));
        const std::vector<int> twice = both.sorted(both.snapshot(list, allRows(300))).rows;
        for (size_t i = 1; i < twice.size(); ++i) {
            const TaskItem &a = list.at(twice[i - 1]);
            const TaskItem &b = list.at(twice[i]);
            if (a.status == b.status)
                QVERIFY(a.originalSize > b.originalSize || (a.originalSize == b.originalSize && twice[i - 1] < twice[i]));
        }
    }

    // Only the latest run lands; a run held back lands once released; a cancelled one never.
    void onlyTheLatestRunLands()
    {
        TaskList list(ConversionMode::jpegToJXL);
        fill(list, 50);
        const TaskSortKeys keys(TaskTableModel::NameColumn, Qt::DescendingOrder);
        BackgroundSorter sorter;
        QList<std::vector<int>> landed;
        const auto landing = [&landed](TaskSortKeys::Sorted &sorted) { landed.append(sorted.rows); };

        sorter.setHeld(true);
        sorter.start(keys, keys.snapshot(list, allRows(50)), landing);
        sorter.start(keys, keys.snapshot(list, allRows(10)), landing);
        QVERIFY(sorter.isRunning());
        sorter.setHeld(false);
        QTRY_COMPARE(landed.size(), 1);
        QVERIFY(!sorter.isRunning());
        std::vector<int> expected = allRows(10);
        std::reverse(expected.begin(), expected.end()); // the names count up with the rows
        QCOMPARE(landed.first(), expected);

        sorter.start(keys, keys.snapshot(list, allRows(50)), landing);
        sorter.cancel();
        QVERIFY(!sorter.isRunning());
        // A later run comes back after the cancelled one would have: only it lands.
        sorter.start(keys, keys.snapshot(list, allRows(3)), landing);
        QTRY_COMPARE(landed.size(), 2);
        QCOMPARE(landed.last(), (std::vector<int>{2, 1, 0}));
    }
};

QTEST_GUILESS_MAIN(TestGuiTaskSort)
#include "tst_gui_tasksort.moc"
