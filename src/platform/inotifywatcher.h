#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>

class QSocketNotifier;

// The kernel's inotify for this process: folders watched by path, their events handed out on the
// thread that made it whenever the descriptor has some (nothing polls). The number of watches can
// be capped below the kernel's limit, so that what a caller does at the limit can be tried.
class InotifyWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(InotifyWatcher)

public:
    struct Event
    {
        int watch = -1; // -1 for IN_Q_OVERFLOW
        quint32 mask = 0;
        quint32 cookie = 0;
        QByteArray name; // of the entry inside the watched folder; empty for the folder itself
    };

    // maxWatches: additions past this many fail with ENOSPC, as at the kernel's limit; -1: the
    // kernel's limit alone.
    explicit InotifyWatcher(int maxWatches = -1, QObject *parent = nullptr);
    ~InotifyWatcher() override;

    // 0, or the errno with which the kernel refused an inotify instance.
    int error() const { return m_error; }
    // A watch descriptor (>= 0), or minus the errno (-ENOSPC at the limit).
    int addWatch(const QByteArray &path, quint32 mask);
    void removeWatch(int watch);
    qsizetype watchCount() const { return m_watches.size(); }

Q_SIGNALS:
    // The events of one read, in the kernel's order.
    void eventsRead(const QList<InotifyWatcher::Event> &events);

private:
    void read();

    int m_fd = -1;
    int m_error = 0;
    int m_maxWatches;
    QSet<int> m_watches;
    QSocketNotifier *m_notifier = nullptr;
};
