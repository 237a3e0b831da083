#pragma once

#include <QString>

// Moves files to the desktop's trash in the freedesktop.org Trash 1.0 layout (files/ and
// info/*.trashinfo), so file managers list and restore them.
namespace Trash {

// Moves path (a file or a folder; a symbolic link is trashed as the link) into the home
// trash when it lives on the home trash's device, otherwise into its own volume's trash.
// Nothing is ever copied across devices or deleted: when no trash on the file's own
// volume can be used, the call fails and the file stays where it is. Blocking and
// thread-safe; call it off the GUI thread. On success trashedPath receives the item's new
// path; on failure errorText says why.
bool moveToTrash(const QString &path, QString *errorText = nullptr, QString *trashedPath = nullptr);

// Moves an item that moveToTrash() has just put at trashedPath back out to destination, which
// it never replaces, and drops its info file. 0, or the errno (EEXIST: the name is taken).
int takeBack(const QString &trashedPath, const QString &destination);

} // namespace Trash
