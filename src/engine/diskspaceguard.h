#pragma once

#include "model/taskitem.h"

#include <QDir>
#include <QList>
#include <QString>

// Checks before a batch that the disks can take every output at its worst-case size.
namespace DiskSpaceGuard {

// Kept free beyond the outputs themselves: 500 MiB.
constexpr qint64 safetyMargin = 524288000;

// Bytes an ordinary user may still write on the volume holding path; INT64_MAX when the
// volume cannot be measured (it then never blocks a batch).
qint64 getAvailableDiskSpace(const QString &path = QDir::homePath());

struct CapacityCheck
{
    bool isSafe;
    qint64 available;
    qint64 needed;
    // A folder on the volume that was measured (the tightest one).
    QString volumePath;
};

// Measures the one volume holding path against all waiting jobs (pending or failed):
// needed = their original sizes plus the margin, or 0 when none waits.
CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const QString &path);

// Measures every volume the waiting jobs write to, each against its own jobs plus the
// margin; unsafe when any of them lacks room. Reports the volume with the least headroom.
// With no waiting job: safe, needed 0, the home volume's free space.
CapacityCheck validateCapacity(const QList<TaskItem> &tasks);

// The warning shown when a check is not safe.
QString warningMessage(const CapacityCheck &check);

} // namespace DiskSpaceGuard
