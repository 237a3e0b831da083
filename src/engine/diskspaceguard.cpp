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
    // Outputs whose room their sources give back: only the largest that exist at once count.
    std::vector<qint64> passing;
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

// The sum of the count largest sizes (reorders sizes).
qint64 largestSum(std::vector<qint64> &sizes, int count)
{
    const auto together = std::min(sizes.size(), size_t(std::max(count, 1)));
    std::partial_sort(sizes.begin(), sizes.begin() + qsizetype(together), sizes.end(), std::greater<>());
    qint64 sum = 0;
    for (size_t i = 0; i < together; ++i)
        sum = saturatingAdd(sum, sizes[i]);
    return sum;
}

struct Room
{
    qint64 available = kUnlimited;
    qint64 size = 0; // 0: unknown
};

Room roomOf(const QString &path)
{
    struct statvfs info;
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    const auto bytes = [&](unsigned long long blocks) {
        unsigned long long product;
        if (__builtin_mul_overflow(blocks, static_cast<unsigned long long>(info.f_frsize), &product)
            || product > static_cast<unsigned long long>(kUnlimited))
            return kUnlimited;
        return static_cast<qint64>(product);
    };
    return {bytes(info.f_bavail), bytes(info.f_blocks)};
}

} // namespace

namespace DiskSpaceGuard {

qint64 getAvailableDiskSpace(const QString &path)
{
    return roomOf(path).available;
}

qint64 marginFor(qint64 volumeSize)
{
    return volumeSize > 0 ? std::min(safetyMargin, volumeSize / 20) : safetyMargin;
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
    const Room room = roomOf(path);
    if (any)
        needed = saturatingAdd(needed, marginFor(room.size));
    return {room.available >= needed, room.available, needed, path};
}

CapacityCheck validateCapacity(const QList<TaskItem> &tasks, const CapacityOptions &options)
{
    // Volumes keyed by device; a folder that cannot be placed on any device (nothing on its
    // path exists, not even "/") goes under a key of its own and counts as unmeasurable.
    std::map<qint64, Volume> volumes;
    QHash<QString, std::pair<qint64, QString>> devices; // folder: device, folder measured
    const auto deviceFor = [&](const QString &folder) {
        auto known = devices.constFind(folder);
        if (known == devices.constEnd()) {
            QString measured;
            const qint64 device = deviceOf(folder, measured);
            known = devices.insert(folder, {device, measured});
        }
        return *known;
    };
    const auto volumeFor = [&](const QString &folder) -> Volume & {
        const auto [device, measured] = deviceFor(folder);
        auto [volume, inserted] = volumes.try_emplace(device);
        if (inserted)
            volume->second.path = measured;
        return volume->second;
    };

    std::vector<qint64> copies;
    for (const TaskItem &task : tasks) {
        if (!isWaiting(task))
            continue;
        const QString folder = outputFolder(task);
        const qint64 device = deviceFor(folder).first;
        Volume &volume = volumeFor(folder);
        const qint64 estimate = outputEstimate(task);
        const qint64 source = std::max<qint64>(task.originalSize, 0);
        if (options.sources == DeleteStrategy::deleteImmediately && device != unknownDevice
            && deviceFor(QFileInfo(task.sourceURL.toLocalFile()).absolutePath()).first == device) {
            // Its output takes room only until the source goes, but for what it outgrows it by.
            volume.needed = saturatingAdd(volume.needed, std::max<qint64>(0, estimate - source));
            volume.passing.push_back(std::min(estimate, source));
        } else {
            volume.needed = saturatingAdd(volume.needed, estimate);
        }
        if (task.mode == ConversionMode::jpegToJXL)
            copies.push_back(source);
    }
    for (auto &[device, volume] : volumes)
        volume.needed = saturatingAdd(volume.needed, largestSum(volume.passing, options.jobsAlive));
    if (options.verificationCopies && !copies.empty()) {
        // Each copy is removed when its job ends, so only the largest that can run together count.
        Volume &temporary = volumeFor(options.temporaryFolder);
        temporary.needed = saturatingAdd(temporary.needed, largestSum(copies, options.concurrentJobs));
    }

    if (volumes.empty()) {
        const QString home = QDir::homePath();
        return {true, getAvailableDiskSpace(home), 0, home};
    }

    CapacityCheck tightest{true, kUnlimited, 0, QString()};
    bool first = true;
    bool allSafe = true;
    for (const auto &[device, volume] : volumes) {
        const Room room = device == unknownDevice ? Room{} : roomOf(volume.path);
        const qint64 needed = saturatingAdd(volume.needed, marginFor(room.size));
        const qint64 available = room.available;
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
