#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Extended attributes of files (user namespace). Many file systems (FAT, some FUSE and SMB
// mounts) have none; callers treat that like an absent attribute.
namespace ExtendedAttributes {

// The value of name on path (following a symbolic link), or nothing when it is absent,
// unsupported or unreadable.
std::optional<QByteArray> read(const QString &path, const char *name);

// Sets name on an open file: 0, or the errno (ENOTSUP where the file system has none).
int write(int fd, const char *name, const QByteArray &value);

} // namespace ExtendedAttributes
