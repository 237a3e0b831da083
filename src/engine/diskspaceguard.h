#pragma once

#include "model/taskitem.h"

#include <QDir>
#include <QList>
#include <QString>

// Checks before a batch that the disks can take every output at its worst-case size.
namespace DiskSpaceGuard {

// Kept free beyond the outputs themselves: 500 MiB, or less on a small volume (marginFor).
constexpr qint64 safetyMargin = 524288000;

// The margin kept on a volume of volumeSize bytes: safetyMargin, but never more than a twentieth
// of the volume, so a photo card or USB stick of a few GB can be used. 0 (size unknown): the
// whole margin.
qint64 marginFor(qint64 volumeSize);

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

// The most a job's output can take: a JXL is no larger than its JPEG, a rebuilt JPEG is at
// most twice its JXL.
qint64 outputEstimate(const TaskItem &task);

// Measures the one volume holding path against all waiting jobs (pending or failed):
// needed = their output estimates plus the volume's margin, or 0 when none waits.
CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const QString &path);

struct CapacityOptions
{
    // Compression jobs that verify write a copy of their source into the temporary folder
    // while they run; at most concurrentJobs of them exist at once.
    bool verificationCopies = false;
    int concurrentJobs = 1;
    QString temporaryFolder = QDir::tempPath();
    // What becomes of the sources. Deleted, a job whose output goes to its source's own volume
    // gives back the room its output took once it ends (all of it for a compression; a
    // restore's output keeps what it outgrows its source by), so only the outputs of jobs
    // alive at once count there. Kept or trashed (the trash is on the same volume), every
    // output counts.
    DeleteStrategy sources = DeleteStrategy::keepOriginal;
    // Jobs that can be alive at once, each holding its unfinished output.
    int jobsAlive = 1;
};

// Measures every volume the waiting jobs write to, each against its own jobs plus its
// margin, and the temporary folder's volume against the largest verification copies that
// can exist at once; unsafe when any of them lacks room. Reports the volume with the least
// headroom. With no waiting job: safe, needed 0, the home volume's free space.
CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const CapacityOptions &options = {});

// The warning shown when a check is not safe.
QString warningMessage(const CapacityCheck &check);

} // namespace DiskSpaceGuard
