#include "diskspaceguard.h"

#include "model/formattedbytes.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <limits>
#include <map>
#include <vector>

namespace {

constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

bool isWaiting(const TaskItem &task)
{
    return task.isWaiting();
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

constexpr qint64 unknownDevice = -1;

// The device holding folder or, for a folder not made yet, its nearest existing ancestor
// (where it will be made); sets path to the folder that was measured.
qint64 deviceOf(const QString &folder, QString &measured)
{
    QString existing = folder;
    struct stat info;
    while (true) {
        if (stat(QFile::encodeName(existing).constData(), &info) == 0) {
            measured = existing;
            return static_cast<qint64>(info.st_dev);
        }
        const QString parent = QFileInfo(existing).path();
        if (parent == existing)
            break;
        existing = parent;
    }
    measured = folder;
    return unknownDevice;
}

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

qint64 outputEstimate(const TaskItem &task)
{
    const qint64 size = std::max<qint64>(task.originalSize, 0);
    return task.mode == ConversionMode::jxlToJPEG ? saturatingAdd(size, size) : size;
}

CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const QString &path)
{
    bool any = false;
    qint64 needed = 0;
    for (const TaskItem &task : tasks) {
        if (!isWaiting(task))
            continue;
        any = true;
        needed = saturatingAdd(needed, outputEstimate(task));
    }
    if (any)
        needed = saturatingAdd(needed, safetyMargin);
    const qint64 available = getAvailableDiskSpace(path);
    return {available >= needed, available, needed, path};
}

CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const CapacityOptions &options)
{
    // Volumes keyed by device; a folder that cannot be placed on any device (nothing on its
    // path exists, not even "/") goes under a key of its own and counts as unmeasurable.
    std::map<qint64, Volume> volumes;
    QHash<QString, qint64> deviceOfFolder;
    const auto volumeFor = [&](const QString &folder) -> Volume & {
        auto known = deviceOfFolder.constFind(folder);
        if (known != deviceOfFolder.constEnd())
            return volumes[*known];
        QString measured;
        const qint64 device = deviceOf(folder, measured);
        deviceOfFolder.insert(folder, device);
        auto [volume, inserted] = volumes.try_emplace(device);
        if (inserted)
            volume->second.path = measured;
        return volume->second;
    };

    std::vector<qint64> copies;
    for (const TaskItem &task : tasks) {
        if (!isWaiting(task))
            continue;
        Volume &volume = volumeFor(outputFolder(task));
        volume.needed = saturatingAdd(volume.needed, outputEstimate(task));
        if (task.mode == ConversionMode::jpegToJXL)
            copies.push_back(std::max<qint64>(task.originalSize, 0));
    }
    if (options.verificationCopies && !copies.empty()) {
        // Each copy is removed when its job ends, so only the largest that can run together count.
        const size_t together = std::min(copies.size(), size_t(std::max(options.concurrentJobs, 1)));
        std::partial_sort(copies.begin(), copies.begin() + qsizetype(together), copies.end(), std::greater<>());
        qint64 largest = 0;
        for (size_t i = 0; i < together; ++i)
            largest = saturatingAdd(largest, copies[i]);
        Volume &temporary = volumeFor(options.temporaryFolder);
        temporary.needed = saturatingAdd(temporary.needed, largest);
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
    return QCoreApplication::translate("DiskSpaceGuard",
                                       "磁盘空间不足：当前卷剩余可用空间仅 %1，本批次转码预估需要约 %2。"
                                       "请先清理磁盘空间以防文件写入截断。")
        .arg(formattedBytes(check.available), formattedBytes(check.needed));
}

} // namespace DiskSpaceGuard
