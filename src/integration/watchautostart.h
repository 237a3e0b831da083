#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The XDG autostart entry that starts `pikora-cli watch` on the chosen folders at login. The file
// is the only record of whether it is on. Synchronous; the file system is its only state.
namespace WatchAutostart {

// Where the entry goes and what it runs.
struct Locations
{
    QString configHome; // XDG_CONFIG_HOME; the entry is autostart/pikora-watch.desktop below it
    QString program;    // the absolute pikora-cli the entry runs; empty when none was found
};

// The pikora-cli beside the running executable, else the one on PATH; empty when neither is.
QString defaultProgram();

// Read from HOME and XDG_CONFIG_HOME now (with the XDG default).
Locations locationsFromEnvironment(const QString &program = defaultProgram());

QString entryPath(const Locations &where);

// The command the entry runs: program watch --saved -q -o ORIGINALS FOLDER..., where originals is
// what pikora-cli's -o takes (keep, trash or delete). --saved, as these are the saved folders: one
// on a disk not mounted yet at login is waited for, not an error that ends the watch.
QStringList command(const QString &program, const QString &originals, const QStringList &folders);

// The whole desktop entry, English with a zh_CN translation.
QByteArray entryText(const QString &program, const QString &originals, const QStringList &folders);

bool isEnabled(const Locations &where);

// Writes the entry in one step (a temporary file renamed over it). Fails without folders or
// without a program. On failure error says why, in the user's language.
bool enable(const Locations &where, const QString &originals, const QStringList &folders, QString *error = nullptr);

// Removes the entry; a missing one is no error.
bool disable(const Locations &where, QString *error = nullptr);

} // namespace WatchAutostart
