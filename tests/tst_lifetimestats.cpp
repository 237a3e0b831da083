#include "app/lifetimestats.h"
#include "model/taskitem.h"
#include "platform/preferences.h"
#include "testenv.h"

#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The lifetime counters: read back as stored, added to under a lock, shared with other processes.
class TestLifetimeStats final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    static TaskItem finished(TaskStatus status, qint64 original, std::optional<qint64> result)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/photos/a.jpg"));
        task.status = status;
        task.originalSize = original;
        task.compressedSize = result;
        return task;
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
        Preferences store;
        store.remove(LifetimeStats::lifetimeBytesKey);
        store.remove(LifetimeStats::lifetimeCountKey);
        store.sync();
    }

    void lifetimeCountersReadBackAsText()
    {
        // QSettings' INI file gives a new process text, and the byte count outgrows a double.
        {
            QSettings raw(Preferences().fileName(), QSettings::IniFormat);
            raw.setValue(LifetimeStats::lifetimeBytesKey, QStringLiteral("9007199254740993"));
            raw.setValue(LifetimeStats::lifetimeCountKey, QStringLiteral("7"));
        }
        LifetimeStats stats;
        QCOMPARE(stats.savedBytes(), (qint64(1) << 53) + 1);
        QCOMPARE(stats.processedCount(), 7);
    }

    void countsOnlyJobsThatSaved()
    {
        LifetimeStats stats;
        QSignalSpy changed(&stats, &LifetimeStats::changed);
        stats.count(finished(TaskStatus::failed, 1000, {}));
        stats.count(finished(TaskStatus::pending, 1000, {})); // put back by a cancel
        stats.count(finished(TaskStatus::completed, 1000, 1200)); // grew: nothing saved
        QCOMPARE(changed.count(), 0);
        stats.count(finished(TaskStatus::completed, 1000, 400));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(stats.savedBytes(), 600);
        QCOMPARE(stats.processedCount(), 1);
        Preferences store;
        QCOMPARE(store.int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(600)); // stored at once
        QCOMPARE(store.integer(LifetimeStats::lifetimeCountKey), 1);
    }

    void addsToWhatOthersStored()
    {
        // Both read their totals before either counted: each adds to the stored total, never
        // writing back its own older one.
        LifetimeStats first;
        LifetimeStats second;
        first.count(finished(TaskStatus::completed, 1000, 900));
        second.count(finished(TaskStatus::completed, 1000, 800));
        QCOMPARE(second.savedBytes(), 300);
        QCOMPARE(second.processedCount(), 2);
        first.count(finished(TaskStatus::completed, 50, 40));
        QCOMPARE(first.savedBytes(), 310);
        QCOMPARE(first.processedCount(), 3);
    }
};

QTEST_GUILESS_MAIN(TestLifetimeStats)
#include "tst_lifetimestats.moc"
