#pragma once

#include <QString>
#include <QStringList>

// Puts the two "send to Pikora" actions into the user's file managers: Nautilus and Caja
// scripts, a Dolphin service menu and Nemo actions, all with the same two menu titles.
// Synchronous; the file system is its only state.
namespace QuickActionInstaller {

// Where one installation goes. The operations without a Locations argument use locations().
struct Locations
{
    QString dataHome;   // XDG_DATA_HOME: Nautilus scripts, Dolphin and Nemo menus
    QString configHome; // XDG_CONFIG_HOME: Caja scripts
    QString program;    // the pikora executable the menus launch
};

// The pikora beside the running executable, else the one on PATH, else plain "pikora".
QString defaultProgram();

// Read from HOME, XDG_DATA_HOME and XDG_CONFIG_HOME now (with the XDG defaults).
Locations locationsFromEnvironment(const QString &program = defaultProgram());

// locationsFromEnvironment(), worked out on first use and kept for the life of the process.
const Locations &locations();

QString compressActionName(); // "使用Pikora进行无损瘦身"
QString restoreActionName();  // "使用Pikora还原为 JPEG"

// Every file an installation writes, in the order it writes them.
QStringList installedPaths(const Locations &where);

// Every file of an installation is there.
bool isInstalled();
bool isInstalled(const Locations &where);

// Writes every file, replacing older ones. On failure error says why, in the user's language.
bool install(QString *error = nullptr);
bool install(const Locations &where, QString *error = nullptr);

// Removes exactly the files install writes; their folders and anything else stay. The first
// removal that fails ends it, leaving later files in place.
bool uninstall(QString *error = nullptr);
bool uninstall(const Locations &where, QString *error = nullptr);

} // namespace QuickActionInstaller
