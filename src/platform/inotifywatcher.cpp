#include "inotifywatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

InotifyWatcher::InotifyWatcher(int maxWatches, QObject *parent)
    : QObject(parent)
    , m_maxWatches(maxWatches)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InotifyWatcher::read);
}

InotifyWatcher::~InotifyWatcher()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int InotifyWatcher::addWatch(const QByteArray &path, quint32 mask)
{
    if (m_fd < 0)
        return -m_error;
    if (m_maxWatches >= 0 && m_watches.size() >= m_maxWatches)
        return -ENOSPC;
    const int watch = ::inotify_add_watch(m_fd, path.constData(), mask);
    if (watch < 0)
        return -errno;
    m_watches.insert(watch);
    return watch;
}

void InotifyWatcher::removeWatch(int watch)
{
    if (m_watches.remove(watch))
        ::inotify_rm_watch(m_fd, watch);
}

void InotifyWatcher::read()
{
    // Aligned for the records inside; large enough that a burst is read in a few calls.
    alignas(struct inotify_event) char buffer[64 * 1024];
    QList<Event> events;
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            break; // EAGAIN: all read
        for (ssize_t offset = 0; offset + ssize_t(sizeof(struct inotify_event)) <= length;) {
            struct inotify_event header;
            std::memcpy(&header, buffer + offset, sizeof header);
            Event event;
            event.watch = header.wd;
            event.mask = header.mask;
            event.cookie = header.cookie;
            if (header.len > 0) { // NUL-padded to the length
                const char *name = buffer + offset + sizeof header;
                event.name = QByteArray(name, qsizetype(qstrnlen(name, header.len)));
            }
            // The kernel has dropped a watch whose folder went away (or that was removed).
            if (header.mask & IN_IGNORED)
                m_watches.remove(header.wd);
            events.append(event);
            offset += ssize_t(sizeof header) + ssize_t(header.len);
        }
    }
    if (!events.isEmpty())
        Q_EMIT eventsRead(events);
}
