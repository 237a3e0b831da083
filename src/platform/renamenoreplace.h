#pragma once

#include <QByteArray>

// rename() that never replaces an existing target: 0 on success, else the errno (EEXIST when
// the name is taken). Uses RENAME_NOREPLACE, else a hard link; on file systems with neither
// (FUSE, SMB, some FAT/NTFS drivers) the target name is first reserved with an exclusive
// create (a folder for a folder) and the item renamed over that reservation, which other
// processes doing the same respect as well.
int renameNoReplace(const QByteArray &from, const QByteArray &to);
