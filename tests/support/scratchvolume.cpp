#include "scratchvolume.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

ScratchVolume::ScratchVolume(const QString &folder, qint64 size)
    : m_folder(folder)
    , m_size(size)
{
    QDir().mkpath(folder);
    mount();
}

ScratchVolume::~ScratchVolume()
{
    unmount();
}

bool ScratchVolume::mount()
{
    if (m_mounted)
        return true;
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("mount"));
    if (::geteuid() != 0 || tool.isEmpty())
        return false;
    m_mounted = QProcess::execute(tool, {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                         QStringLiteral("size=%1").arg(m_size), QStringLiteral("pikora-test"), m_folder})
        == 0;
    return m_mounted;
}

void ScratchVolume::unmount()
{
    if (!m_mounted)
        return;
    // Lazily: a file a failed test left open must not keep the volume mounted.
    QProcess::execute(QStandardPaths::findExecutable(QStringLiteral("umount")), {QStringLiteral("-l"), m_folder});
    m_mounted = false;
}
