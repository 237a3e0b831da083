#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// Which file system a folder lies on, as a text that stays the same while that file system is
// mounted where it was: a folder remembered with it can be told from the empty mount point left
// behind when its disk is not mounted, which is just a folder on another disk.
namespace VolumeIdentity {

// One line of /proc/self/mountinfo, its paths unescaped.
struct Mount
{
    qint64 id = -1;
    QString device;     // "major:minor"
    QString root;       // the folder of the file system seen here: "/" but for bind mounts
    QString mountPoint;
    QString type;
    QString source;
};

// The mounts that mountinfo text lists, in its order; lines that do not parse are left out.
QList<Mount> parseMountInfo(const QByteArray &text);

// The identity of the file system holding path (absolute, links resolved) by mountinfo text: its
// mount is the one with mountId when that is known, else the last listed whose mount point
// holds path. "UUID=<uuid>" where uuids (by "major:minor") names the mount's device, else
// "<source> on <mount point> type <type>"; " root=<root>" follows for a bind mount of a folder.
// Empty when no mount holds path.
QString identify(const QByteArray &mountInfo, const QString &path, std::optional<qint64> mountId,
                 const QHash<QString, QString> &uuids);

// The identity of the volume that holds folder now, from /proc/self/mountinfo and
// /dev/disk/by-uuid; empty when folder is not there or the mounts cannot be read. Reads the
// disk: call it off the GUI thread.
QString of(const QString &folder);

} // namespace VolumeIdentity
