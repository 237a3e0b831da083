#include "lifetimestats.h"

#include "corelog.h"
#include "model/taskitem.h"
#include "platform/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

namespace {

// Waits this long for another process adding to the counters.
constexpr int kCounterLockWaitMs = 5000;
// Each write takes a lock file, rewrites the settings file and flushes it; small photos finish
// many times a second, so their counts are gathered into one write per this interval.
constexpr qint64 kWriteIntervalMs = 1000;

} // namespace

const QString LifetimeStats::lifetimeBytesKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");
const QString LifetimeStats::lifetimeCountKey = QStringLiteral("com.lumevo.lifetimeProcessedCount");

LifetimeStats::LifetimeStats(QObject *parent)
    : QObject(parent)
{
    const Preferences preferences;
    m_savedBytes = preferences.int64(lifetimeBytesKey).value_or(0);
    m_processedCount = preferences.integer(lifetimeCountKey);
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
    if (m_pendingCount > 0)
        addToFile(m_pendingBytes, m_pendingCount);
}

void LifetimeStats::count(const TaskItem &task)
{
    // A job that got past its point of no return before a cancel still saved its bytes.
    if (task.status != TaskStatus::completed || task.reused) // a reused output was counted when made
        return;
    const qint64 saved = task.savedBytes();
    if (saved < 1)
        return;
    m_savedBytes += saved;
    ++m_processedCount;
    m_pendingBytes += saved;
    ++m_pendingCount;
    Q_EMIT changed();
    scheduleWrite();
}

std::pair<qint64, qint64> LifetimeStats::addToFile(qint64 bytes, qint64 count)
{
    // Another process (the command line beside the window) may have added since this one last
    // read: re-read and add under a lock, never write back an older total.
    Preferences preferences;
    QDir().mkpath(QFileInfo(preferences.fileName()).absolutePath()); // before the first setting is written
    QLockFile lock(preferences.fileName() + QStringLiteral(".counters.lock"));
    if (!lock.tryLock(kCounterLockWaitMs))
        qCWarning(lcCore) << "lifetime counters: lock not taken, adding without it:" << lock.error();
    preferences.sync();
    const qint64 savedBytes = preferences.int64(lifetimeBytesKey).value_or(0) + bytes;
    const qint64 processedCount = preferences.integer(lifetimeCountKey) + count;
    preferences.setInt64(lifetimeBytesKey, savedBytes);
    preferences.setInt64(lifetimeCountKey, processedCount);
    preferences.sync();
    return {savedBytes, processedCount};
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
    const qint64 bytes = std::exchange(m_pendingBytes, 0);
    const qint64 count = std::exchange(m_pendingCount, 0);
    m_writing = true;
    m_sinceWrite.start();
    m_writer.setFuture(QtConcurrent::run(&m_pool, [bytes, count] { return addToFile(bytes, count); }));
}

void LifetimeStats::writeFinished()
{
    // The file now holds what other processes added too; what arrived during the write is on top.
    m_writing = false;
    const auto [storedBytes, storedCount] = m_writer.result();
    const qint64 savedBytes = storedBytes + m_pendingBytes;
    const qint64 processedCount = storedCount + m_pendingCount;
    if (savedBytes != m_savedBytes || processedCount != m_processedCount) {
        m_savedBytes = savedBytes;
        m_processedCount = processedCount;
        Q_EMIT changed();
    }
    if (m_pendingCount > 0)
        scheduleWrite();
    else
        Q_EMIT stored();
}
