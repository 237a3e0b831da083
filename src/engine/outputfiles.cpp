#include "outputfiles.h"

#include "platform/renamenoreplace.h"
#include "platform/trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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
        const int renameError = renameNoReplace(temp, QFile::encodeName(candidate));
        if (renameError == 0) {
            syncPath(QFile::encodeName(QFileInfo(candidate).absolutePath()), O_RDONLY | O_DIRECTORY);
            result.placement = Placement{candidate, qint64(st.st_size), false};
            return result;
        }
        if (renameError != EEXIST && renameError != ENOTEMPTY && renameError != EISDIR) {
            result.error = JXLError::platform(systemError(candidate, renameError));
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
