#include "settlequeue.h"

#include <QFile>
#include <QList>

#include <algorithm>

namespace {

// Failed photos remembered at most; past that the knowledge goes, and such a photo would at
// worst be tried once more.
constexpr qsizetype kMaxFailed = 100000;

} // namespace

SettleQueue::SettleQueue(qint64 settleMs, QObject *parent)
    : QObject(parent)
    , m_settleMs(settleMs)
{
    m_clock.start();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &SettleQueue::settleDue);
}

void SettleQueue::arm(const QString &path, bool evented)
{
    Pending pending;
    pending.due = m_clock.elapsed() + m_settleMs;
    pending.evented = evented;
    if (!evented) {
        const std::optional<FileIdentity> file = FileIdentity::ofRegularFile(QFile::encodeName(path));
        if (!file)
            return;
        pending.identity = *file;
    }
    m_pending.insert(path, pending);
    m_dues.emplace(pending.due, path);
    schedule();
}

void SettleQueue::touch(const QString &path)
{
    const auto pending = m_pending.find(path);
    if (pending == m_pending.end())
        return;
    if (pending->evented)
        pending->due = m_clock.elapsed() + m_settleMs;
    else
        m_pending.erase(pending); // found by a look and being written: its close arms it
}

void SettleQueue::setFailed(const FileIdentity &identity)
{
    if (m_failed.size() >= kMaxFailed)
        m_failed.clear();
    m_failed.insert({identity.device, identity.inode}, {identity.size, identity.modifiedNs});
}

void SettleQueue::settleDue()
{
    const qint64 now = m_clock.elapsed();
    struct Settled
    {
        QString path;
        FileIdentity identity;
    };
    QList<Settled> settled;
    while (!m_dues.empty() && m_dues.begin()->first <= now) {
        const qint64 due = m_dues.begin()->first;
        const QString path = m_dues.begin()->second;
        m_dues.erase(m_dues.begin());
        const auto pending = m_pending.find(path);
        if (pending == m_pending.end())
            continue; // taken or gone meanwhile
        if (pending->due > due) { // written again meanwhile
            m_dues.emplace(pending->due, path);
            continue;
        }
        const std::optional<FileIdentity> file = FileIdentity::ofRegularFile(QFile::encodeName(path));
        if (!file) {
            m_pending.erase(pending);
            continue;
        }
        if (!pending->evented && !(file->sameFile(pending->identity) && file->modifiedNs == pending->identity.modifiedNs)) {
            // No word from the kernel about it: it has to stay as it is for a whole wait.
            pending->identity = *file;
            pending->due = now + m_settleMs;
            m_dues.emplace(pending->due, path);
            continue;
        }
        const auto failed = m_failed.constFind({file->device, file->inode});
        const bool failedBefore = failed != m_failed.cend() && *failed == qMakePair(file->size, file->modifiedNs);
        m_pending.erase(pending);
        if (!failedBefore)
            settled.append({path, *file});
    }
    schedule();
    // Handed over after the queue is in order again: a receiver may arm or remove photos.
    for (const Settled &photo : std::as_const(settled))
        Q_EMIT this->settled(photo.path, photo.identity);
}

void SettleQueue::schedule()
{
    if (m_dues.empty()) {
        m_timer.stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, m_dues.begin()->first - m_clock.elapsed());
    m_timer.start(int(std::min<qint64>(wait, 24 * 3600 * 1000)));
}
