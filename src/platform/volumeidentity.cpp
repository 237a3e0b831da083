#include "volumeidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

// mountinfo writes a blank, tab, newline and backslash in a path as \ and three octal digits.
QString unescaped(const QByteArray &field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const auto isOctal = [&](qsizetype at) { return at < field.size() && field.at(at) >= '0' && field.at(at) <= '7'; };
        if (field.at(i) == '\\' && isOctal(i + 1) && isOctal(i + 2) && isOctal(i + 3)) {
            bytes.append(char((field.at(i + 1) - '0') * 64 + (field.at(i + 2) - '0') * 8 + (field.at(i + 3) - '0')));
            i += 3;
        } else {
            bytes.append(field.at(i));
        }
    }
    return QFile::decodeName(bytes);
}

bool holds(const QString &mountPoint, const QString &path)
{
    return mountPoint == QStringLiteral("/") || path == mountPoint || path.startsWith(mountPoint + QLatin1Char('/'));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Block devices by "major:minor", named by the UUID of the file system on them.
QHash<QString, QString> uuidsByDevice()
{
    QHash<QString, QString> uuids;
    const QDir links(QStringLiteral("/dev/disk/by-uuid"));
    for (const QString &uuid : links.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        struct stat info;
        if (::stat(QFile::encodeName(links.filePath(uuid)).constData(), &info) == 0 && S_ISBLK(info.st_mode))
            uuids.insert(QStringLiteral("%1:%2").arg(major(info.st_rdev)).arg(minor(info.st_rdev)), uuid);
    }
    return uuids;
}

} // namespace

namespace VolumeIdentity {

QList<Mount> parseMountInfo(const QByteArray &text)
{
    QList<Mount> mounts;
    for (const QByteArray &line : text.split('\n')) {
        // id parent major:minor root mount-point options [optional fields] - type source super-options
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-", 6);
        if (dash < 0 || dash + 2 >= fields.size())
            continue;
        bool numeric = false;
        Mount mount;
        mount.id = fields.at(0).toLongLong(&numeric);
        if (!numeric || !fields.at(2).contains(':'))
            continue;
        mount.device = QString::fromLatin1(fields.at(2));
        mount.root = unescaped(fields.at(3));
        mount.mountPoint = unescaped(fields.at(4));
        mount.type = unescaped(fields.at(dash + 1));
        mount.source = unescaped(fields.at(dash + 2));
        mounts.append(mount);
    }
    return mounts;
}

QString identify(const QByteArray &mountInfo, const QString &path, std::optional<qint64> mountId,
                 const QHash<QString, QString> &uuids)
{
    const QList<Mount> mounts = parseMountInfo(mountInfo);
    const Mount *found = nullptr;
    for (const Mount &mount : mounts) {
        if (mountId ? mount.id == *mountId
                    : holds(mount.mountPoint, path) && (!found || mount.mountPoint.size() >= found->mountPoint.size()))
            found = &mount;
    }
    if (!found)
        return {};
    const QString uuid = uuids.value(found->device);
    QString identity = uuid.isEmpty()
        ? QStringLiteral("%1 on %2 type %3").arg(found->source, found->mountPoint, found->type)
        : QStringLiteral("UUID=") + uuid;
    if (found->root != QStringLiteral("/"))
        identity += QStringLiteral(" root=") + found->root;
    return identity;
}

QString of(const QString &folder)
{
    const QString path = QFileInfo(folder).canonicalFilePath();
    if (path.isEmpty())
        return {};
    const QByteArray mountInfo = readAll(QStringLiteral("/proc/self/mountinfo"));
    if (mountInfo.isEmpty())
        return {};
    // The kernel names the mount itself where it can; a mount point listed twice (one mount
    // over another) is then no guess.
    std::optional<qint64> mountId;
#ifdef STATX_MNT_ID
    struct statx info;
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), 0, STATX_MNT_ID, &info) == 0
        && (info.stx_mask & STATX_MNT_ID))
        mountId = qint64(info.stx_mnt_id);
#endif
    return identify(mountInfo, path, mountId, uuidsByDevice());
}

} // namespace VolumeIdentity
