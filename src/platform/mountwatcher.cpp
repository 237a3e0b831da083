#include "mountwatcher.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

MountWatcher::MountWatcher(QObject *parent)
    : QObject(parent)
{
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    // After each change of the table the kernel raises a priority condition on the file, and the
    // poll that sees it takes it: nothing has to be read.
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MountWatcher::changed);
}

MountWatcher::~MountWatcher()
{
    delete m_notifier; // before the descriptor it watches is closed
    if (m_fd >= 0)
        ::close(m_fd);
}
