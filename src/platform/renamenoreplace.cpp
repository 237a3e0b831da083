#include "renamenoreplace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int renameOverReservation(const char *from, const char *to)
{
    struct stat item;
    if (::lstat(from, &item) != 0)
        return errno;
    const bool folder = S_ISDIR(item.st_mode);
    struct stat reservation;
    if (folder) {
        // rename() replaces an empty folder, so an empty folder is the reservation of a folder.
        if (::mkdir(to, 0700) != 0)
            return errno;
        if (::lstat(to, &reservation) != 0)
            return errno;
    } else {
        const int fd = ::open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno;
        const int statResult = ::fstat(fd, &reservation);
        ::close(fd);
        if (statResult != 0)
            return errno;
    }
    const auto release = [&] {
        struct stat now;
        if (::lstat(to, &now) == 0 && now.st_dev == reservation.st_dev && now.st_ino == reservation.st_ino)
            folder ? ::rmdir(to) : ::unlink(to);
    };
    // A program that does not reserve names may have replaced ours meanwhile; never rename over that.
    struct stat now;
    if (::lstat(to, &now) != 0 || now.st_dev != reservation.st_dev || now.st_ino != reservation.st_ino
        || now.st_size != reservation.st_size)
        return EEXIST;
    if (::rename(from, to) != 0) {
        const int error = errno;
        release();
        return error;
    }
    return 0;
}

} // namespace

int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A hard link is just as atomic about taken names.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    return renameOverReservation(from.constData(), to.constData());
}
