#pragma once

#include <QString>

// Puts the two "send to Pikora" actions into the user's file managers: the workflow bundles
// under ~/Library/Services, and beside them the Linux equivalents (Nautilus and Caja scripts,
// a Dolphin service menu, Nemo actions) with the same two menu titles. Synchronous; the file
// system is its only state.
namespace QuickActionInstaller {

// Where one installation goes. The operations without a Locations argument use locations().
struct Locations
{
    QString servicesDirectory; // HOME/Library/Services: the workflow bundles
    QString dataHome;          // XDG_DATA_HOME: Nautilus scripts, Dolphin and Nemo menus
    QString configHome;        // XDG_CONFIG_HOME: Caja scripts
    QString program;           // the pikora executable the native menus launch
};

// The pikora beside the running executable, else the one on PATH, else plain "pikora".
QString defaultProgram();

// Read from HOME, XDG_DATA_HOME and XDG_CONFIG_HOME now (with the XDG defaults).
Locations locationsFromEnvironment(const QString &program = defaultProgram());

// locationsFromEnvironment(), worked out on first use and kept for the life of the process.
const Locations &locations();
QString servicesDirectory();

QString compressActionName(); // "使用Pikora进行无损瘦身.workflow"
QString restoreActionName();  // "使用Pikora还原为 JPEG.workflow"

// Both bundles exist (files or folders alike).
bool isInstalled();
bool isInstalled(const Locations &where);

// Writes both bundles, replacing old ones, and the native menus. On failure error says why.
bool install(QString *error = nullptr);
bool install(const Locations &where, QString *error = nullptr);

// Removes both bundles, the retired comparison bundle and the native menus. The first removal
// that fails ends it, leaving later items in place.
bool uninstall(QString *error = nullptr);
bool uninstall(const Locations &where, QString *error = nullptr);

} // namespace QuickActionInstaller
