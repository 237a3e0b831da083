#pragma once

#include <QList>
#include <QUrl>

// Hands files to the desktop's file manager and default applications.
namespace FileManager {

// Asks the file manager to show the files selected in their folder
// (org.freedesktop.FileManager1.ShowItems, asynchronous); where no file manager answers, opens
// the first file's folder instead. Returns at once.
void showItems(const QList<QUrl> &files);

// Opens the file with the desktop's default application (xdg-open with an argument list).
void openWithDefaultApp(const QUrl &file);

} // namespace FileManager
