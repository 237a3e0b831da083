#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

// The desktop's file manager and default applications, for the window's file actions.
namespace FileManager {

// Told, in the user's words, that no file manager could show the files.
using Failure = std::function<void(const QString &reason)>;

// Asks the file manager (org.freedesktop.FileManager1.ShowItems on the session bus) to show the
// files selected in their folders, without waiting for it; where no file manager answers, opens
// the first file's folder instead, and when that fails too, calls failed (on this thread).
// Non-local URLs are ignored.
void showItems(const QList<QUrl> &files, const Failure &failed = {});

// Opens a local file with the desktop's default application for it (xdg-open, argument list).
// Returns false when the file is not local or the opener could not be started.
bool openWithDefaultApp(const QUrl &file);

} // namespace FileManager
