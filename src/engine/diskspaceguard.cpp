#include "diskspaceguard.h"

#include "model/formattedbytes.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <limits>
#include <map>

namespace {

constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

bool isWaiting(const TaskItem &task)
{
    return task.status == TaskStatus::pending || task.status == TaskStatus::failed;
}

// A byte sum that cannot wrap round into a small or negative need.
qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum;
    if (__builtin_add_overflow(a, b, &sum))
        return kUnlimited;
    return sum;
}

// The folder the job's output will be written to.
QString outputFolder(const TaskItem &task)
{
    const QUrl &target = task.destinationURL ? *task.destinationURL : task.sourceURL;
    const QString file = target.toLocalFile();
    if (file.isEmpty())
        return QDir::homePath();
    return QFileInfo(file).absolutePath();
}

struct Volume
{
    QString path;
    qint64 needed = 0;
};

} // namespace

namespace DiskSpaceGuard {

qint64 getAvailableDiskSpace(const QString &path)
{
    struct statvfs info;
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return kUnlimited;
    const unsigned long long blocks = info.f_bavail;
    const unsigned long long blockSize = info.f_frsize;
    unsigned long long bytes;
    if (__builtin_mul_overflow(blocks, blockSize, &bytes) || bytes > static_cast<unsigned long long>(kUnlimited))
        return kUnlimited;
    return static_cast<qint64>(bytes);
}

CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const QString &path)
{
    bool any = false;
    qint64 needed = 0;
    for (const TaskItem &task : tasks) {
        if (!isWaiting(task))
            continue;
        any = true;
        needed = saturatingAdd(needed, std::max<qint64>(task.originalSize, 0));
    }
    if (any)
        needed = saturatingAdd(needed, safetyMargin);
    const qint64 available = getAvailableDiskSpace(path);
    return {available >= needed, available, needed, path};
}

CapacityCheck validateCapacity(const QList<TaskItem> &tasks)
{
    // Volumes keyed by device; a folder that cannot be placed on any device (nothing on its
    // path exists, not even "/") goes under a key of its own and counts as unmeasurable.
    std::map<qint64, Volume> volumes;
    QHash<QString, qint64> deviceOfFolder;
    constexpr qint64 unknownDevice = -1;

    for (const TaskItem &task : tasks) {
        if (!isWaiting(task))
            continue;
        const QString folder = outputFolder(task);
        auto known = deviceOfFolder.constFind(folder);
        qint64 device;
        if (known != deviceOfFolder.constEnd()) {
            device = *known;
        } else {
            // An output folder that does not exist yet will be made inside its nearest
            // existing ancestor, on that ancestor's volume.
            QString existing = folder;
            struct stat info;
            bool found = false;
            while (true) {
                if (stat(QFile::encodeName(existing).constData(), &info) == 0) {
                    found = true;
                    break;
                }
                const QString parent = QFileInfo(existing).path();
                if (parent == existing)
                    break;
                existing = parent;
            }
            device = found ? static_cast<qint64>(info.st_dev) : unknownDevice;
            deviceOfFolder.insert(folder, device);
            auto [volume, inserted] = volumes.try_emplace(device);
            if (inserted)
                volume->second.path = found ? existing : folder;
        }
        Volume &volume = volumes[device];
        volume.needed = saturatingAdd(volume.needed, std::max<qint64>(task.originalSize, 0));
    }

    if (volumes.empty()) {
        const QString home = QDir::homePath();
        return {true, getAvailableDiskSpace(home), 0, home};
    }

    CapacityCheck tightest{true, kUnlimited, 0, QString()};
    bool first = true;
    bool allSafe = true;
    for (const auto &[device, volume] : volumes) {
        const qint64 needed = saturatingAdd(volume.needed, safetyMargin);
        const qint64 available = device == unknownDevice ? kUnlimited : getAvailableDiskSpace(volume.path);
        allSafe = allSafe && available >= needed;
        // Both are non-negative, so the difference cannot overflow.
        const qint64 headroom = available - needed;
        if (first || headroom < tightest.available - tightest.needed) {
            tightest = {true, available, needed, volume.path};
            first = false;
        }
    }
    tightest.isSafe = allSafe;
    return tightest;
}

QString warningMessage(const CapacityCheck &check)
{
    return QStringLiteral("磁盘空间不足：当前卷剩余可用空间仅 ") + formattedBytes(check.available)
        + QStringLiteral("，本批次转码预估需要约 ") + formattedBytes(check.needed)
        + QStringLiteral("。请先清理磁盘空间以防文件写入截断。");
}

} // namespace DiskSpaceGuard
