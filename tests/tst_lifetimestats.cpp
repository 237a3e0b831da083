#include "app/lifetimestats.h"
#include "model/taskitem.h"
#include "platform/preferences.h"
#include "testenv.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The lifetime counters: read back as stored, added to under a lock, shared with other processes.
class TestLifetimeStats final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    static TaskItem finished(TaskStatus status, qint64 original, std::optional<qint64> result, bool reused = false)
    {
        TaskItem task;
        task.reused = reused;
        task.sourceURL = QUrl::fromLocalFile(u"/photos/a.jpg"_s);
        task.status = status;
        task.originalSize = original;
        task.compressedSize = result;
        return task;
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init() { TestEnv::forgetPreferences(); }

    // As a new process reads them: text, beyond a double, or from an older version without an average.
    void storedCountersReadBack_data()
    {
        QTest::addColumn<QString>("stored"); // saved bytes, count, then the reduction pair if stored
        QTest::addColumn<double>("average"); // below 0: none
        QTest::addColumn<bool>("coversAll");
        QTest::newRow("large") << u"9007199254740993 7 9007199254740993 36028797018963972"_s << 25.0 << true;
        QTest::newRow("older version beside a newer one") << u"5000 3 1000 4000"_s << 25.0 << false;
        QTest::newRow("half a pair") << u"5000 3 5000"_s << -1.0 << false;
        QTest::newRow("nothing") << QString() << -1.0 << true;
        // Text that is no whole number in range reads as nothing stored.
        QTest::newRow("largest") << u"9223372036854775807 1"_s << -1.0 << false;
        QTest::newRow("overflow") << u"9223372036854775808 1"_s << -1.0 << true;
        QTest::newRow("fraction") << u"1.5 1"_s << -1.0 << true;
    }

    void storedCountersReadBack()
    {
        QFETCH(QString, stored);
        QFETCH(double, average);
        QFETCH(bool, coversAll);
        {
            QSettings raw(Preferences().fileName(), QSettings::IniFormat);
            const QStringList keys{LifetimeStats::lifetimeBytesKey, LifetimeStats::lifetimeCountKey,
                                   LifetimeStats::reductionSavedKey, LifetimeStats::reductionOriginalKey};
            for (qsizetype i = 0; i < stored.split(u' ', Qt::SkipEmptyParts).size(); ++i)
                raw.setValue(keys.at(i), stored.section(u' ', i, i));
        }
        LifetimeStats stats;
        QCOMPARE(stats.savedBytes(), stored.section(u' ', 0, 0).toLongLong()); // 0 where the text is no number
        QCOMPARE(stats.processedCount(), stored.section(u' ', 1, 1).toLongLong());
        QCOMPARE(stats.averageReduction(), average < 0 ? std::nullopt : std::optional<double>(average));
        QCOMPARE(stats.averageCoversAll(), coversAll);
    }

    void countsOnlyJobsThatSaved()
    {
        LifetimeStats stats;
        QSignalSpy changed(&stats, &LifetimeStats::changed);
        QSignalSpy stored(&stats, &LifetimeStats::stored);
        stats.count(finished(TaskStatus::failed, 1000, {}));
        stats.count(finished(TaskStatus::pending, 1000, {})); // put back by a cancel
        stats.count(finished(TaskStatus::completed, 1000, 1200)); // grew: nothing saved
        stats.count(finished(TaskStatus::completed, 1000, 400, true)); // an earlier run's output: counted when made
        QVERIFY(changed.isEmpty() && !stats.isStoring());
        stats.count(finished(TaskStatus::completed, 1000, 400));
        QCOMPARE(changed.count(), 1);
        QVERIFY(stats.savedBytes() == 600 && stats.processedCount() == 1);
        QVERIFY(stored.wait());
        QVERIFY(!stats.isStoring());
        QCOMPARE(stats.averageReduction(), std::optional<double>(60.0));
    }

    // The average over all conversions, whichever process counted them, survives restarts; older ones stay out.
    void averageIsOfAllTimeAndStaysAcrossRestarts()
    {
        {
            QSettings raw(Preferences().fileName(), QSettings::IniFormat);
            raw.setValue(LifetimeStats::lifetimeBytesKey, 5000);
            raw.setValue(LifetimeStats::lifetimeCountKey, 3);
        }
        {
            LifetimeStats stats;
            QSignalSpy stored(&stats, &LifetimeStats::stored);
            stats.count(finished(TaskStatus::completed, 4000, 3000));
            stats.count(finished(TaskStatus::completed, 1000, 1000)); // saved nothing: not in the average
            QCOMPARE(stats.averageReduction(), std::optional<double>(25.0));
            QVERIFY(stored.wait());
        }
        LifetimeStats other;
        QSignalSpy stored(&other, &LifetimeStats::stored);
        QVERIFY(other.averageReduction() == std::optional<double>(25.0) && !other.averageCoversAll());
        other.count(finished(TaskStatus::completed, 6000, 3000));
        QVERIFY(stored.wait());
        const LifetimeStats restarted;
        QCOMPARE(restarted.averageReduction(), std::optional<double>(40.0)); // 4000 of 10000
        QVERIFY(restarted.savedBytes() == 9000 && restarted.processedCount() == 5);
    }

    void additionsDuringWritesAreNeverLost()
    {
        // Two counters adding faster than they write: each adds to the stored total, never writing back its own.
        LifetimeStats first;
        LifetimeStats second;
        QSignalSpy firstStored(&first, &LifetimeStats::stored);
        QSignalSpy secondStored(&second, &LifetimeStats::stored);
        constexpr int kJobs = 40;
        for (int i = 1; i <= kJobs; ++i) {
            first.count(finished(TaskStatus::completed, 1000, 1000 - i));
            second.count(finished(TaskStatus::completed, 1000, 1000 - 2 * i));
        }
        QCOMPARE(first.processedCount(), kJobs);
        QTRY_VERIFY(!first.isStoring() && !second.isStoring());
        QVERIFY(firstStored.count() >= 1 && secondStored.count() >= 1);
        const qint64 expected = 3 * kJobs * (kJobs + 1) / 2;
        Preferences store;
        QCOMPARE(store.int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(expected));
        QCOMPARE(store.integer(LifetimeStats::lifetimeCountKey), 2 * kJobs);
        // Whichever wrote last knows the whole sum.
        QCOMPARE(std::max(first.savedBytes(), second.savedBytes()), expected);
    }

    void pendingAdditionsAreStoredOnDestruction()
    {
        {
            LifetimeStats stats;
            for (int i = 0; i < 5; ++i)
                stats.count(finished(TaskStatus::completed, 100, 90));
            // Gone without waiting for its writes, as a process that exits after its batch.
        }
        Preferences store;
        QCOMPARE(store.int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(50));
        QCOMPARE(store.integer(LifetimeStats::lifetimeCountKey), 5);
    }

    // The byte count as Preferences writes it, and a number of another type it must not take.
    void preferencesWriteWholeNumbersAsTextAndReadNoOtherType()
    {
        // Beyond a double's precision, so a number kept as floating point would show.
        Preferences().setInt64(LifetimeStats::lifetimeBytesKey, (qint64(1) << 53) + 1);
        const QByteArray stored = TestEnv::readAll(Preferences().fileName());
        QVERIFY2(stored.contains("\ncom.lumevo.lifetimeSavedBytes=9007199254740993\n"), stored.constData());
        // A number of another type written through QSettings in this process.
        QSettings raw(Preferences().fileName(), QSettings::IniFormat);
        raw.setValue(LifetimeStats::lifetimeBytesKey, 2.5);
        raw.sync();
        QCOMPARE(Preferences().int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>());
    }
};

QTEST_GUILESS_MAIN(TestLifetimeStats)
#include "tst_lifetimestats.moc"
