#include "filemanageractions.h"

#include "integration/quickactioninstaller.h"

FileManagerActions::FileManagerActions(QObject *parent)
    : QObject(parent)
    , m_isInstalled(QuickActionInstaller::isInstalled())
{
}

bool FileManagerActions::install(QString *error)
{
    if (!QuickActionInstaller::install(error))
        return false;
    setInstalled(true);
    return true;
}

bool FileManagerActions::uninstall(QString *error)
{
    if (!QuickActionInstaller::uninstall(error))
        return false;
    setInstalled(false);
    return true;
}

void FileManagerActions::setInstalled(bool installed)
{
    if (installed == m_isInstalled)
        return;
    m_isInstalled = installed;
    Q_EMIT isInstalledChanged();
}
