#include "lifetimestats.h"

#include "corelog.h"
#include "model/taskitem.h"
#include "platform/preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

namespace {

// Waits this long for another process adding to the counters.
constexpr int kCounterLockWaitMs = 5000;

} // namespace

const QString LifetimeStats::lifetimeBytesKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");
const QString LifetimeStats::lifetimeCountKey = QStringLiteral("com.lumevo.lifetimeProcessedCount");

LifetimeStats::LifetimeStats(QObject *parent)
    : QObject(parent)
    , m_preferences(std::make_unique<Preferences>())
    , m_savedBytes(m_preferences->int64(lifetimeBytesKey).value_or(0))
    , m_processedCount(m_preferences->integer(lifetimeCountKey))
{
}

LifetimeStats::~LifetimeStats() = default;

void LifetimeStats::count(const TaskItem &task)
{
    // A job that got past its point of no return before a cancel still saved its bytes.
    if (task.status != TaskStatus::completed || task.reused) // a reused output was counted when made
        return;
    const qint64 saved = task.savedBytes();
    if (saved < 1)
        return;
    // Another process (the command line beside the window) may have added since this one last
    // read: re-read and add under a lock, never write back an older total.
    QDir().mkpath(QFileInfo(m_preferences->fileName()).absolutePath()); // before the first setting is written
    QLockFile lock(m_preferences->fileName() + QStringLiteral(".counters.lock"));
    if (!lock.tryLock(kCounterLockWaitMs))
        qCWarning(lcCore) << "lifetime counters: lock not taken, adding without it:" << lock.error();
    m_preferences->sync();
    m_savedBytes = m_preferences->int64(lifetimeBytesKey).value_or(0) + saved;
    m_processedCount = m_preferences->integer(lifetimeCountKey) + 1;
    m_preferences->setInt64(lifetimeBytesKey, m_savedBytes);
    m_preferences->setInt64(lifetimeCountKey, m_processedCount);
    m_preferences->sync();
    lock.unlock();
    Q_EMIT changed();
}
