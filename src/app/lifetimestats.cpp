#include "lifetimestats.h"

#include "corelog.h"
#include "model/taskitem.h"
#include "platform/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <utility>

namespace {

// Waits this long for another process adding to the counters.
constexpr int kCounterLockWaitMs = 5000;
// Each write takes a lock file, rewrites the settings file and flushes it; small photos finish
// many times a second, so their counts are gathered into one write per this interval.
constexpr qint64 kWriteIntervalMs = 1000;

} // namespace

const QString LifetimeStats::lifetimeBytesKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");
const QString LifetimeStats::lifetimeCountKey = QStringLiteral("com.lumevo.lifetimeProcessedCount");
const QString LifetimeStats::reductionSavedKey = QStringLiteral("com.lumevo.lifetimeReductionSavedBytes");
const QString LifetimeStats::reductionOriginalKey = QStringLiteral("com.lumevo.lifetimeReductionOriginalBytes");

namespace {

LifetimeStats::Totals storedTotals(const Preferences &preferences)
{
    LifetimeStats::Totals totals;
    totals.savedBytes = preferences.int64(LifetimeStats::lifetimeBytesKey).value_or(0);
    totals.processedCount = preferences.integer(LifetimeStats::lifetimeCountKey);
    // The pair is written together; half of it is no figure at all.
    const std::optional<qint64> saved = preferences.int64(LifetimeStats::reductionSavedKey);
    const std::optional<qint64> original = preferences.int64(LifetimeStats::reductionOriginalKey);
    if (saved && original && *saved >= 0 && *original > 0) {
        totals.reductionSaved = *saved;
        totals.reductionOriginal = *original;
    }
    return totals;
}

} // namespace

LifetimeStats::Totals &LifetimeStats::Totals::operator+=(const Totals &other)
{
    savedBytes += other.savedBytes;
    processedCount += other.processedCount;
    reductionSaved += other.reductionSaved;
    reductionOriginal += other.reductionOriginal;
    return *this;
}

LifetimeStats::LifetimeStats(QObject *parent)
    : QObject(parent)
    , m_totals(storedTotals(Preferences()))
{
    // One write at a time: additions that arrive meanwhile wait and go into the next one.
    m_pool.setMaxThreadCount(1);
    connect(&m_writer, &QFutureWatcherBase::finished, this, &LifetimeStats::writeFinished);
    m_nextWrite.setSingleShot(true);
    connect(&m_nextWrite, &QTimer::timeout, this, &LifetimeStats::startWrite);
}

LifetimeStats::~LifetimeStats()
{
    // The command line exits right after its batch: what it counted must be in the file by then.
    m_writer.disconnect(this);
    m_nextWrite.stop();
    m_pool.waitForDone();
    if (m_pending.processedCount > 0)
        addToFile(m_pending);
}

std::optional<double> LifetimeStats::averageReduction() const
{
    if (m_totals.reductionOriginal < 1)
        return std::nullopt;
    return double(m_totals.reductionSaved) * 100.0 / double(m_totals.reductionOriginal);
}

void LifetimeStats::count(const TaskItem &task)
{
    // A job that got past its point of no return before a cancel still saved its bytes.
    if (task.status != TaskStatus::completed || task.reused) // a reused output was counted when made
        return;
    const qint64 saved = task.savedBytes();
    if (saved < 1)
        return;
    const Totals added{saved, 1, saved, task.originalSize};
    m_totals += added;
    m_pending += added;
    Q_EMIT changed();
    scheduleWrite();
}

LifetimeStats::Totals LifetimeStats::addToFile(const Totals &added)
{
    // Another process (the command line beside the window) may have added since this one last
    // read: re-read and add under a lock, never write back an older total.
    Preferences preferences;
    QDir().mkpath(QFileInfo(preferences.fileName()).absolutePath()); // before the first setting is written
    QLockFile lock(preferences.fileName() + QStringLiteral(".counters.lock"));
    if (!lock.tryLock(kCounterLockWaitMs))
        qCWarning(lcCore) << "lifetime counters: lock not taken, adding without it:" << lock.error();
    preferences.sync();
    Totals totals = storedTotals(preferences);
    totals += added;
    preferences.setInt64(lifetimeBytesKey, totals.savedBytes);
    preferences.setInt64(lifetimeCountKey, totals.processedCount);
    preferences.setInt64(reductionSavedKey, totals.reductionSaved);
    preferences.setInt64(reductionOriginalKey, totals.reductionOriginal);
    preferences.sync();
    return totals;
}

void LifetimeStats::scheduleWrite()
{
    if (m_writing || m_nextWrite.isActive())
        return;
    const qint64 wait = m_sinceWrite.isValid() ? kWriteIntervalMs - m_sinceWrite.elapsed() : 0;
    m_nextWrite.start(int(std::clamp<qint64>(wait, 0, kWriteIntervalMs)));
}

void LifetimeStats::startWrite()
{
    const Totals added = std::exchange(m_pending, {});
    m_writing = true;
    m_sinceWrite.start();
    m_writer.setFuture(QtConcurrent::run(&m_pool, [added] { return addToFile(added); }));
}

void LifetimeStats::writeFinished()
{
    // The file now holds what other processes added too; what arrived during the write is on top.
    m_writing = false;
    Totals totals = m_writer.result();
    totals += m_pending;
    if (totals != m_totals) {
        m_totals = totals;
        Q_EMIT changed();
    }
    if (m_pending.processedCount > 0)
        scheduleWrite();
    else
        Q_EMIT stored();
}
