#include "trash.h"

#include "renamenoreplace.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Enough for any real clash of names; only stops a file system that always answers "exists".
constexpr int kMaxNameAttempts = 100000;

bool fail(QString *errorText, const QByteArray &path, const QString &reason)
{
    if (errorText)
        *errorText = QCoreApplication::translate("Trash", "无法将“%1”移至回收站：%2").arg(QFile::decodeName(path), reason);
    return false;
}

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArrayLiteral("/") : path.left(slash);
}

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    QByteArray path = folder;
    if (!path.endsWith('/'))
        path += '/';
    return path + name;
}

// The folder part resolved (links, "..") so that the recorded origin and the volume found
// are the real ones; the last component stays as named, so a link is trashed as a link.
QByteArray canonicalItemPath(QString path)
{
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    char resolved[PATH_MAX];
    if (!realpath(folder.constData(), resolved))
        return {};
    return join(QByteArray(resolved), QFile::encodeName(info.fileName()));
}

QByteArray homeTrashPath()
{
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    // A relative value is invalid and must be ignored.
    if (dataHome.startsWith('/'))
        return join(QFile::encodeName(QDir::cleanPath(QFile::decodeName(dataHome))), "Trash");
    return join(QFile::encodeName(QDir::homePath()), ".local/share/Trash");
}

// Device of path, or of its nearest existing ancestor (where the folder would be made).
bool deviceOfNearest(QByteArray path, dev_t *device)
{
    while (true) {
        struct stat info;
        if (stat(path.constData(), &info) == 0) {
            *device = info.st_dev;
            return true;
        }
        if (path == "/")
            return false;
        path = parentOf(path);
    }
}

// Makes every missing folder of path with mode 0700: a trash holds private files.
bool makePrivatePath(const QByteArray &path, int *error)
{
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path.at(end) != '/')
            continue;
        const QByteArray prefix = path.left(end);
        struct stat info;
        if (stat(prefix.constData(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                *error = ENOTDIR;
                return false;
            }
            continue;
        }
        if (mkdir(prefix.constData(), 0700) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
    }
    return true;
}

// A folder we may trust with the user's files: a real directory (not a link someone planted)
// that belongs to us and sits on the item's device. Made with 0700 when missing.
bool ensureOwnFolder(const QByteArray &path, dev_t device)
{
    struct stat info;
    if (lstat(path.constData(), &info) != 0) {
        if (errno != ENOENT || mkdir(path.constData(), 0700) != 0)
            return false;
        if (lstat(path.constData(), &info) != 0)
            return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == getuid() && info.st_dev == device;
}

bool ensureVolumeTrash(const QByteArray &trash, dev_t device)
{
    return ensureOwnFolder(trash, device) && ensureOwnFolder(join(trash, "files"), device)
        && ensureOwnFolder(join(trash, "info"), device);
}

// The trash on the item's own volume: $topdir/.Trash/$uid when an administrator prepared
// $topdir/.Trash (a real folder with the sticky bit), otherwise $topdir/.Trash-$uid.
QByteArray volumeTrashPath(const QByteArray &topdir, dev_t device)
{
    const QByteArray uid = QByteArray::number(getuid());
    const QByteArray shared = join(topdir, ".Trash");
    struct stat info;
    if (lstat(shared.constData(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
        const QByteArray mine = join(shared, uid);
        if (ensureVolumeTrash(mine, device))
            return mine;
    }
    const QByteArray own = join(topdir, ".Trash-" + uid);
    if (ensureVolumeTrash(own, device))
        return own;
    return {};
}

// The mount point holding the item: the highest folder above it still on its device.
// Empty when the item is itself a mount point (it cannot be moved anyway).
QByteArray topDirectory(const QByteArray &itemPath, dev_t device)
{
    QByteArray current = parentOf(itemPath);
    struct stat info;
    if (stat(current.constData(), &info) != 0 || info.st_dev != device)
        return {};
    while (current != "/") {
        const QByteArray parent = parentOf(current);
        if (stat(parent.constData(), &info) != 0 || info.st_dev != device)
            break;
        current = parent;
    }
    return current;
}

// photo.jpg, photo.2.jpg, photo.3.jpg...; a folder or a name without extension gets name.2.
QByteArray candidateName(const QByteArray &name, bool isFolder, int attempt)
{
    if (attempt == 1)
        return name;
    const QByteArray number = QByteArray::number(attempt);
    const qsizetype dot = isFolder ? -1 : name.lastIndexOf('.');
    if (dot > 0)
        return name.left(dot) + '.' + number + name.mid(dot);
    return name + '.' + number;
}

QByteArray deletionDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return QByteArray(text, qsizetype(length));
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t written = write(fd, data.constData() + done, size_t(data.size() - done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += written;
    }
    return true;
}

} // namespace

namespace Trash {

bool moveToTrash(const QString &path, QString *errorText, QString *trashedPath)
{
    const QByteArray requested = QFile::encodeName(path);
    const QByteArray item = canonicalItemPath(path);
    struct stat itemInfo;
    if (item.isEmpty() || lstat(item.constData(), &itemInfo) != 0)
        return fail(errorText, requested, qt_error_string(errno));
    const QByteArray name = item.mid(item.lastIndexOf('/') + 1);
    if (name.isEmpty() || name == "." || name == "..")
        return fail(errorText, requested, qt_error_string(EINVAL));

    // Home trash for items on its device; anything else goes to its own volume's trash so
    // that trashing is always a rename, never a copy of a photo followed by a delete.
    QByteArray trash = homeTrashPath();
    QByteArray recordedPath;
    dev_t homeDevice;
    if (deviceOfNearest(trash, &homeDevice) && homeDevice == itemInfo.st_dev) {
        int error = 0;
        if (!makePrivatePath(join(trash, "files"), &error) || !makePrivatePath(join(trash, "info"), &error))
            return fail(errorText, requested, qt_error_string(error));
        recordedPath = item;
    } else {
        const QByteArray topdir = topDirectory(item, itemInfo.st_dev);
        if (topdir.isEmpty())
            return fail(errorText, requested, QCoreApplication::translate("Trash", "无法确定所在的卷"));
        trash = volumeTrashPath(topdir, itemInfo.st_dev);
        if (trash.isEmpty())
            return fail(errorText, requested, QCoreApplication::translate("Trash", "该卷上没有可用的回收站"));
        // Volume trashes record the origin relative to the volume, which may mount elsewhere.
        recordedPath = item.mid(topdir == "/" ? 1 : topdir.size() + 1);
    }

    const QByteArray info = "[Trash Info]\nPath=" + recordedPath.toPercentEncoding("/")
        + "\nDeletionDate=" + deletionDate() + '\n';
    const bool isFolder = S_ISDIR(itemInfo.st_mode);
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const QByteArray candidate = candidateName(name, isFolder, attempt);
        const QByteArray infoPath = join(trash, "info/" + candidate + ".trashinfo");
        // Creating the info file exclusively reserves the name against every other trasher.
        const int fd = open(infoPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(errorText, requested, qt_error_string(errno));
        }
        const QByteArray target = join(trash, "files/" + candidate);
        struct stat existing;
        if (lstat(target.constData(), &existing) == 0) {
            // A leftover without info file; leave it alone and take the next name.
            close(fd);
            unlink(infoPath.constData());
            continue;
        }
        const bool written = writeAll(fd, info);
        const int writeError = errno;
        if (close(fd) != 0 || !written) {
            const int error = written ? errno : writeError;
            unlink(infoPath.constData());
            return fail(errorText, requested, qt_error_string(error));
        }
        if (const int error = renameNoReplace(item, target); error != 0) {
            unlink(infoPath.constData());
            // Another trasher took the name after we looked: try the next one.
            if (error == EEXIST)
                continue;
            return fail(errorText, requested, qt_error_string(error));
        }
        if (trashedPath)
            *trashedPath = QFile::decodeName(target);
        return true;
    }
    return fail(errorText, requested, qt_error_string(EEXIST));
}

int takeBack(const QString &trashedPath, const QString &destination)
{
    const QByteArray item = QFile::encodeName(trashedPath);
    if (const int error = renameNoReplace(item, QFile::encodeName(destination)); error != 0)
        return error;
    // <trash>/files/<name> was recorded in <trash>/info/<name>.trashinfo.
    const QByteArray files = parentOf(item);
    const QByteArray name = item.mid(item.lastIndexOf('/') + 1);
    unlink(join(parentOf(files), "info/" + name + ".trashinfo").constData());
    return 0;
}

} // namespace Trash
