#pragma once

#include <QByteArray>

// rename() that never replaces an existing target: 0 on success, else the errno (EEXIST when
// the name is taken). Atomic where the file system supports RENAME_NOREPLACE or hard links;
// elsewhere (FAT, exFAT) at least this process never races itself for a name.
int renameNoReplace(const QByteArray &from, const QByteArray &to);
