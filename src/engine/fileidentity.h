#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// What tells that a file is still the one whose bytes were read: the inode it is, its size and
// its times, taken before the read began.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;
    qint64 changedNs = 0;
    // Wall clock when it was taken. Times stamped so close to it may be followed by a write in
    // the same tick of the file system's clock, which leaves them as they were.
    qint64 takenNs = 0;

    // Of an open file.
    static std::optional<FileIdentity> of(int fd);
    // Of what stands at path; a symbolic link as the link itself unless followLinks.
    static std::optional<FileIdentity> ofPath(const QByteArray &path, bool followLinks = false);
    // The regular file at path itself (a link is not followed); nothing for anything else.
    static std::optional<FileIdentity> ofRegularFile(const QByteArray &path);

    // The same inode, of the same size.
    bool sameFile(const FileIdentity &other) const;
    // No write, rename over, new link, attribute or time change since this was taken, as far as
    // the times can tell: they are unchanged and were old enough to tell.
    bool untouchedSince(const FileIdentity &earlier) const;
};
