#include "fileidentity.h"

#include <sys/stat.h>
#include <time.h>

namespace {

// Coarser than any clock a file system stamps with (FAT's is two seconds).
constexpr qint64 kRacyNs = 2'000'000'000;

qint64 nanoseconds(const struct timespec &time)
{
    return qint64(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileIdentity fromStat(const struct stat &info)
{
    // The clock the kernel stamps file times with, so that this time compares fairly with them.
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    FileIdentity identity;
    identity.device = quint64(info.st_dev);
    identity.inode = quint64(info.st_ino);
    identity.size = qint64(info.st_size);
    identity.modifiedNs = nanoseconds(info.st_mtim);
    identity.changedNs = nanoseconds(info.st_ctim);
    identity.takenNs = nanoseconds(now);
    return identity;
}

} // namespace

std::optional<FileIdentity> FileIdentity::of(int fd)
{
    struct stat info;
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return fromStat(info);
}

std::optional<FileIdentity> FileIdentity::ofPath(const QByteArray &path, bool followLinks)
{
    struct stat info;
    if ((followLinks ? ::stat(path.constData(), &info) : ::lstat(path.constData(), &info)) != 0)
        return std::nullopt;
    return fromStat(info);
}

std::optional<FileIdentity> FileIdentity::ofRegularFile(const QByteArray &path)
{
    struct stat info;
    if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    return fromStat(info);
}

bool FileIdentity::sameFile(const FileIdentity &other) const
{
    return device == other.device && inode == other.inode && size == other.size;
}

bool FileIdentity::untouchedSince(const FileIdentity &earlier) const
{
    const bool settled = earlier.takenNs - earlier.modifiedNs > kRacyNs && earlier.takenNs - earlier.changedNs > kRacyNs;
    return settled && sameFile(earlier) && modifiedNs == earlier.modifiedNs && changedNs == earlier.changedNs;
}
