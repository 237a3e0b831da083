#include "outputfiles.h"

#include "platform/trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace OutputFiles {

namespace {

QString systemError(const QString &path, int error)
{
    return QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral(": ") + path;
}

bool syncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// rename() that fails with EEXIST instead of replacing the target.
int renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return -1;
    // No RENAME_NOREPLACE on this file system: a hard link is just as atomic about taken names.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
        return -1;
    // Nor hard links (FAT, exFAT): at least our own jobs never race each other for a name.
    static std::mutex mutex;
    const std::lock_guard lock(mutex);
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.constData(), to.constData());
}

} // namespace

QString withExtension(const QString &path, const QString &extension)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    return info.dir().filePath(stem + QLatin1Char('.') + extension);
}

QString alternativeName(const QString &path, int n)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString suffix = dot > 0 ? name.mid(dot) : QString();
    return info.dir().filePath(stem + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')') + suffix);
}

QString temporarySibling(const QString &finalPath)
{
    const QFileInfo info(finalPath);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(12);
    return info.dir().filePath(QStringLiteral(".pikora-") + unique + QStringLiteral(".part") + suffix);
}

std::optional<JXLError> finishTemporary(const QString &temporaryPath, const QString &sourcePath)
{
    const QByteArray temp = QFile::encodeName(temporaryPath);
    struct stat source;
    if (::stat(QFile::encodeName(sourcePath).constData(), &source) == 0) {
        // Photo libraries sort by date, and once an original is gone its date would be lost.
        ::chmod(temp.constData(), source.st_mode & 0777);
        const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
        ::utimensat(AT_FDCWD, temp.constData(), times, 0);
    }
    if (!syncPath(temp, O_RDONLY))
        return JXLError::platform(systemError(temporaryPath, errno));
    return std::nullopt;
}

bool sameContent(const QString &a, const QString &b)
{
    QFile first(a);
    QFile second(b);
    if (!QFileInfo(a).isFile() || !QFileInfo(b).isFile() || first.size() != second.size())
        return false;
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1024 * 1024;
    for (;;) {
        const QByteArray x = first.read(kChunk);
        const QByteArray y = second.read(kChunk);
        if (x != y)
            return false;
        if (x.isEmpty())
            return true;
    }
}

PlacementResult place(const QString &temporaryPath, const QString &wantedPath,
                      const std::shared_ptr<std::atomic_bool> &cancelled)
{
    PlacementResult result;
    const QByteArray temp = QFile::encodeName(temporaryPath);
    const auto dropTemporary = [&] { ::unlink(temp.constData()); };

    struct stat st;
    if (::stat(temp.constData(), &st) != 0) {
        result.error = JXLError::platform(systemError(temporaryPath, errno));
        return result;
    }

    for (int attempt = 0;; ++attempt) {
        const QString candidate = attempt == 0 ? wantedPath : alternativeName(wantedPath, attempt);
        if (cancelled && cancelled->load()) {
            dropTemporary();
            result.cancelled = true;
            return result;
        }
        if (renameNoReplace(temp, QFile::encodeName(candidate)) == 0) {
            syncPath(QFile::encodeName(QFileInfo(candidate).absolutePath()), O_RDONLY | O_DIRECTORY);
            result.placement = Placement{candidate, qint64(st.st_size), false};
            return result;
        }
        if (errno != EEXIST && errno != ENOTEMPTY && errno != EISDIR) {
            result.error = JXLError::platform(systemError(candidate, errno));
            dropTemporary();
            return result;
        }
        // The name is taken: the same bytes there already are as good as ours.
        if (sameContent(candidate, temporaryPath)) {
            dropTemporary();
            result.placement = Placement{candidate, qint64(st.st_size), true};
            return result;
        }
        if (attempt > 10000) {
            dropTemporary();
            result.error = JXLError::platform(systemError(wantedPath, EEXIST));
            return result;
        }
    }
}

std::optional<QString> disposeSource(const QString &sourcePath, DeleteStrategy strategy)
{
    switch (strategy) {
    case DeleteStrategy::keepOriginal:
        return std::nullopt;
    case DeleteStrategy::moveToTrash: {
        QString error;
        if (Trash::moveToTrash(sourcePath, &error))
            return std::nullopt;
        return error;
    }
    case DeleteStrategy::deleteImmediately:
        if (::unlink(QFile::encodeName(sourcePath).constData()) == 0)
            return std::nullopt;
        return systemError(sourcePath, errno);
    }
    return std::nullopt;
}

} // namespace OutputFiles
