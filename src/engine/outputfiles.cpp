#include "outputfiles.h"

#include "platform/extendedattributes.h"
#include "platform/processowner.h"
#include "platform/renamenoreplace.h"
#include "filedigest.h"
#include "pathkey.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcOutputFiles, "pikora.outputfiles", QtWarningMsg)

namespace OutputFiles {

namespace {

// How old a temporary of an owner that cannot be checked must be before it counts as left over.
constexpr qint64 kForeignLeftoverAgeSeconds = 24 * 60 * 60;

QString systemError(const QString &path, int error)
{
    return QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral(": ") + path;
}

// A failure to write beside path, naming its folder (never our temporary name) and, where the
// system's words would not, what stands in the way.
JXLError writeFailure(const QString &path, int error)
{
    const QString folder = QFileInfo(path).absolutePath();
    switch (error) {
    case EROFS:
        return JXLError::platform(QCoreApplication::translate("OutputFiles", "无法写入 %1：该文件夹是只读的").arg(folder));
    case EACCES:
    case EPERM:
        return JXLError::platform(
            QCoreApplication::translate("OutputFiles", "无法写入 %1：没有写入该文件夹的权限").arg(folder));
    case ENOSPC:
    case EDQUOT:
        return JXLError::platform(QCoreApplication::translate("OutputFiles", "磁盘空间已满，无法写入 %1").arg(folder));
    default:
        return JXLError::platform(systemError(folder, error));
    }
}

// A folder of the output tree that could not be made, named, with the reason in the user's words.
JXLError folderFailure(const QString &folder, int error)
{
    QString reason;
    switch (error) {
    case EROFS:
        reason = QCoreApplication::translate("OutputFiles", "该卷是只读的");
        break;
    case EACCES:
    case EPERM:
        reason = QCoreApplication::translate("OutputFiles", "没有权限");
        break;
    case ENOTDIR:
    case EEXIST:
        reason = QCoreApplication::translate("OutputFiles", "同名的文件挡在那里");
        break;
    case ENOSPC:
    case EDQUOT:
        reason = QCoreApplication::translate("OutputFiles", "磁盘空间已满");
        break;
    default:
        reason = QString::fromLocal8Bit(std::strerror(error));
    }
    return JXLError::platform(QCoreApplication::translate("OutputFiles", "无法创建输出文件夹 %1：%2").arg(folder, reason));
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

QString absoluteKey(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// Outputs this process has placed or taken over, each with the source it belongs to: an
// identical file already there may stand for one source only, or two originals would go
// for one output. Kept for the whole run, so as digests of the paths.
class Claims
{
public:
    // Claims path for source unless another source holds it.
    bool claim(const QString &path, const QString &source)
    {
        const PathKey pathKey = PathKey::of(path);
        const PathKey sourceKey = PathKey::of(source);
        const std::lock_guard lock(m_mutex);
        const auto it = m_owners.constFind(pathKey);
        if (it != m_owners.constEnd() && *it != sourceKey)
            return false;
        m_owners.insert(pathKey, sourceKey);
        return true;
    }
    void release(const QString &path, const QString &source)
    {
        const PathKey pathKey = PathKey::of(path);
        const PathKey sourceKey = PathKey::of(source);
        const std::lock_guard lock(m_mutex);
        const auto it = m_owners.find(pathKey);
        if (it != m_owners.end() && *it == sourceKey)
            m_owners.erase(it);
    }

private:
    std::mutex m_mutex;
    QHash<PathKey, PathKey> m_owners;
};

Claims &claims()
{
    static Claims instance;
    return instance;
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

QString outputPath(const QString &source, const QString &importRoot, const QString &outputFolder,
                   const QString &extension)
{
    const QString beside = withExtension(source, extension);
    if (outputFolder.isEmpty())
        return beside;
    const QFileInfo file(beside);
    const QString folder = file.absolutePath();
    QString root = importRoot.isEmpty() ? folder : QDir::cleanPath(importRoot);
    QString below = QDir(root).relativeFilePath(folder);
    if (below == QStringLiteral("..") || below.startsWith(QStringLiteral("../")) || QDir::isAbsolutePath(below)) {
        root = folder;
        below.clear();
    }
    if (below == QStringLiteral("."))
        below.clear();
    QString path = QDir::cleanPath(outputFolder);
    const QString rootName = QFileInfo(root).fileName(); // empty for "/"
    for (const QString &part : {rootName, below}) {
        if (!part.isEmpty())
            path += QLatin1Char('/') + part;
    }
    return QDir::cleanPath(path + QLatin1Char('/') + file.fileName());
}

std::optional<JXLError> makeOutputFolders(const QString &folder, const QString &outputFolder, const QString &sourceBase)
{
    const QString target = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    struct stat info;
    if (::stat(QFile::encodeName(target).constData(), &info) == 0 && S_ISDIR(info.st_mode))
        return std::nullopt; // the usual case: beside the source, or made by an earlier job
    const QString top = outputFolder.isEmpty() ? QString() : QDir::cleanPath(outputFolder);
    const QString below = top.isEmpty() ? QString() : QDir(top).relativeFilePath(target);
    const bool mirrored = !top.isEmpty() && !below.isEmpty() && below != QStringLiteral(".")
        && below != QStringLiteral("..") && !below.startsWith(QStringLiteral("../"));
    QString made;
    QString counterpart = QDir::cleanPath(sourceBase);
    const QStringList parts = target.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &part : parts) {
        made += QLatin1Char('/') + part;
        const bool mirroredPart = mirrored && made.size() > top.size() && made.startsWith(top + QLatin1Char('/'));
        if (mirroredPart)
            counterpart = QDir::cleanPath(counterpart + QLatin1Char('/') + part);
        const QByteArray path = QFile::encodeName(made);
        if (::stat(path.constData(), &info) == 0) {
            if (S_ISDIR(info.st_mode))
                continue; // made by an earlier job, or by the user: left as it is
            return folderFailure(made, ENOTDIR);
        }
        if (::mkdir(path.constData(), mirroredPart ? 0700 : 0777) != 0) {
            if (errno == EEXIST && ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode))
                continue; // another job made it meanwhile
            return folderFailure(made, errno);
        }
        if (mirroredPart) {
            struct stat source;
            const mode_t mode = ::stat(QFile::encodeName(counterpart).constData(), &source) == 0
                ? (source.st_mode & 07777) | S_IRWXU
                : mode_t(0755);
            ::chmod(path.constData(), mode);
        }
    }
    return std::nullopt;
}

bool claimExisting(const QString &path, const QString &sourcePath)
{
    return claims().claim(absoluteKey(path), absoluteKey(sourcePath));
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
    const QString unique = QUuid::createUuid().toString(QUuid::Id128).left(8);
    return info.dir().filePath(QStringLiteral(".pikora-") + ProcessOwner::ownTag() + QLatin1Char('-') + unique
                               + QStringLiteral(".part") + suffix);
}

bool isTemporaryName(const QString &fileName, QString *ownerTag)
{
    static const QRegularExpression tagged(
        QStringLiteral("^\\.pikora-([0-9a-f]{8}-[0-9]+-[0-9]+)-[0-9a-f]{8}\\.part(\\.[^/.]+)?$"));
    // Earlier versions named no owner.
    static const QRegularExpression untagged(QStringLiteral("^\\.pikora-[0-9a-f]{12}\\.part(\\.[^/.]+)?$"));
    const QRegularExpressionMatch match = tagged.match(fileName);
    if (match.hasMatch()) {
        if (ownerTag)
            *ownerTag = match.captured(1);
        return true;
    }
    if (untagged.match(fileName).hasMatch()) {
        if (ownerTag)
            ownerTag->clear();
        return true;
    }
    return false;
}

int removeDeadLeftovers(const QString &folder)
{
    const QDir dir(folder);
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int removed = 0;
    for (const QString &name : dir.entryList({QStringLiteral(".pikora-*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        QString owner;
        if (!isTemporaryName(name, &owner))
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat info;
        // Links are never ours, and other users' files are theirs to clean.
        if (::lstat(path.constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid())
            continue;
        const ProcessOwner::State state =
            owner.isEmpty() ? ProcessOwner::State::unknown : ProcessOwner::stateOf(owner);
        const bool dead = state == ProcessOwner::State::dead
            || (state == ProcessOwner::State::unknown && now - info.st_mtim.tv_sec > kForeignLeftoverAgeSeconds);
        if (dead && ::unlink(path.constData()) == 0) {
            qCInfo(lcOutputFiles) << "removed a dead run's leftover" << dir.filePath(name);
            ++removed;
        }
    }
    return removed;
}

void removeDeadLeftoversOnce(const QString &folder)
{
    static std::mutex mutex;
    static QSet<QString> done;
    const QString key = absoluteKey(folder);
    {
        const std::lock_guard lock(mutex);
        if (done.contains(key))
            return;
        done.insert(key);
    }
    removeDeadLeftovers(key);
}

void removeDeadLeftoversAround(const QList<QUrl> &named, const ScanResult &found)
{
    QSet<QString> folders;
    for (const QUrl &url : named) {
        const QFileInfo info(url.toLocalFile());
        folders.insert(info.isDir() ? info.absoluteFilePath() : info.absolutePath());
    }
    // Folders met on the walk hold nearly all of a library's leftovers (a job's temporary lies
    // beside its photo); a walk of thousands of photos has far fewer folders.
    for (const QList<QUrl> *files : {&found.jpegFiles, &found.jxlFiles}) {
        for (const QUrl &file : *files) {
            const QString path = file.toLocalFile();
            folders.insert(path.left(std::max<qsizetype>(path.lastIndexOf(u'/'), 1)));
        }
    }
    folders.remove(QString());
    for (const QString &folder : std::as_const(folders))
        removeDeadLeftoversOnce(folder);
}

std::optional<JXLError> createTemporary(const QString &temporaryPath, const QString &sourcePath)
{
    mode_t mode = 0600;
    struct stat source;
    if (::stat(QFile::encodeName(sourcePath).constData(), &source) == 0)
        mode = (source.st_mode & 0777) | S_IRUSR | S_IWUSR;
    const int fd = ::open(QFile::encodeName(temporaryPath).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return writeFailure(temporaryPath, errno);
    // Not through open(): the umask must neither widen nor narrow the source's bits.
    ::fchmod(fd, mode);
    ::close(fd);
    return std::nullopt;
}

std::optional<JXLError> finishTemporary(const QString &temporaryPath, const QString &sourcePath,
                                        const std::optional<QString> &sourceDigest, QString *digest)
{
    const QByteArray temp = QFile::encodeName(temporaryPath);
    const int fd = ::open(temp.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return JXLError::platform(systemError(temporaryPath, errno));
    if (sourceDigest) {
        // Before the final chmod: a read-only source would leave the owner unable to set it.
        if (const int error = ExtendedAttributes::write(fd, FileDigest::kAttribute, sourceDigest->toLatin1()))
            qCDebug(lcOutputFiles) << "no source digest stored with" << temporaryPath << std::strerror(error);
    }
    struct stat source;
    if (::stat(QFile::encodeName(sourcePath).constData(), &source) == 0) {
        ::fchmod(fd, source.st_mode & 0777);
        // Photo libraries sort by date, and once an original is gone its date would be lost.
        const struct timespec times[2] = {{0, UTIME_OMIT}, source.st_mtim};
        ::futimens(fd, times);
    }
    const bool synced = ::fsync(fd) == 0;
    const int syncError = errno;
    ::close(fd);
    if (!synced)
        return writeFailure(temporaryPath, syncError);
    if (digest) {
        QString error;
        const std::optional<QString> own = FileDigest::sha256(temporaryPath, &error);
        if (!own)
            return JXLError::platform(error);
        *digest = *own;
    }
    return std::nullopt;
}

bool sameContent(const QString &a, const QString &b)
{
    struct stat first;
    struct stat second;
    if (::lstat(QFile::encodeName(a).constData(), &first) != 0 || ::lstat(QFile::encodeName(b).constData(), &second) != 0
        || !S_ISREG(first.st_mode) || !S_ISREG(second.st_mode) || first.st_size != second.st_size)
        return false;
    QFile x(a);
    QFile y(b);
    if (!x.open(QIODevice::ReadOnly) || !y.open(QIODevice::ReadOnly))
        return false;
    constexpr qint64 kChunk = 1024 * 1024;
    for (;;) {
        const QByteArray left = x.read(kChunk);
        const QByteArray right = y.read(kChunk);
        if (left != right)
            return false;
        if (left.isEmpty())
            return true;
    }
}

PlacementResult place(const QString &temporaryPath, const QString &wantedPath, const QString &sourcePath,
                      const std::shared_ptr<std::atomic_bool> &cancelled)
{
    PlacementResult result;
    const QByteArray temp = QFile::encodeName(temporaryPath);
    const QString source = absoluteKey(sourcePath);
    const auto dropTemporary = [&] { ::unlink(temp.constData()); };

    struct stat st;
    if (::stat(temp.constData(), &st) != 0) {
        result.error = JXLError::platform(systemError(temporaryPath, errno));
        return result;
    }

    for (int attempt = 0;; ++attempt) {
        if (attempt > 10000) {
            dropTemporary();
            result.error = JXLError::platform(systemError(wantedPath, EEXIST));
            return result;
        }
        const QString candidate = attempt == 0 ? wantedPath : alternativeName(wantedPath, attempt);
        if (cancelled && cancelled->load()) {
            dropTemporary();
            result.cancelled = true;
            return result;
        }
        // Claimed before the move, so that no other job of ours takes it as "already there".
        const QString key = absoluteKey(candidate);
        if (!claims().claim(key, source))
            continue;
        const int renameError = renameNoReplace(temp, QFile::encodeName(candidate));
        if (renameError == 0) {
            // The new name is made durable before a source goes (recheckPlaced); while the source
            // stays, a name lost to a crash only means the photo is converted again.
            result.placement = Placement{candidate, qint64(st.st_size), false};
            return result;
        }
        if (renameError != EEXIST && renameError != ENOTEMPTY && renameError != EISDIR) {
            claims().release(key, source);
            result.error = JXLError::platform(systemError(candidate, renameError));
            dropTemporary();
            return result;
        }
        // The name is taken: a regular file with the same bytes there already is as good as ours.
        if (sameContent(candidate, temporaryPath)) {
            dropTemporary();
            result.placement = Placement{candidate, qint64(st.st_size), true};
            return result;
        }
        claims().release(key, source);
    }
}

std::optional<JXLError> recheckPlaced(const QString &path, qint64 size, const QString &digest, bool flushFile)
{
    struct stat info;
    const QByteArray file = QFile::encodeName(path);
    const bool unchanged = ::lstat(file.constData(), &info) == 0 && S_ISREG(info.st_mode)
        && qint64(info.st_size) == size && FileDigest::sha256(path) == digest;
    if (unchanged) {
        // The file's own data first, then its name (the order of a durable rename).
        if (flushFile && !syncPath(file, O_RDONLY | O_NOFOLLOW))
            return writeFailure(path, errno);
        if (!syncPath(QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY))
            return writeFailure(path, errno);
        return std::nullopt;
    }
    return JXLError::platform(
        QCoreApplication::translate("OutputFiles", "输出文件“%1”在写入后被其他程序改动或替换，原文件未做处理").arg(path));
}

} // namespace OutputFiles
