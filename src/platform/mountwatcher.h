#pragma once

#include <QObject>

class QSocketNotifier;

// Changes of this process's mount table (a disk mounted or unmounted anywhere), told when the
// kernel marks /proc/self/mountinfo: nothing polls. Without that file it stays silent.
class MountWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MountWatcher)

public:
    explicit MountWatcher(QObject *parent = nullptr);
    ~MountWatcher() override;

Q_SIGNALS:
    void changed();

private:
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
