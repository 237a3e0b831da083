#include "toolstatus.h"

#include "engine/toolcommands.h"
#include "engine/whenready.h"
#include "settingsstore.h"

#include <QCoreApplication>
#include <QFuture>
#include <QtConcurrent>

QString ToolStatus::notInstalledText()
{
    return QCoreApplication::translate("ToolStatus", "未安装 (通过 APT: sudo apt install libjxl-tools)");
}

ToolStatus::ToolStatus(const SettingsStore *settings, const QStringList &searchFolders, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_searchFolders(searchFolders)
{
    connect(settings, &SettingsStore::customToolPathsChanged, this, &ToolStatus::probe);
    probe();
}

bool ToolStatus::isReady(ConversionMode mode) const
{
    return mode == ConversionMode::jpegToJXL ? m_isCjxlReady : m_isDjxlReady;
}

void ToolStatus::probe()
{
    const QString customCjxl = m_settings->customCjxlPath();
    const QString customDjxl = m_settings->customDjxlPath();
    const quint64 probe = ++m_probe;
    whenReady(this, QtConcurrent::run([customCjxl, customDjxl, folders = m_searchFolders] {
        ToolCommands::ToolPaths paths;
        paths.cjxl = ToolCommands::resolveToolPath(QStringLiteral("cjxl"), customCjxl, folders);
        paths.djxl = ToolCommands::resolveToolPath(QStringLiteral("djxl"), customDjxl, folders);
        return paths;
    }), [this, probe](const ToolCommands::ToolPaths &paths) {
        if (probe != m_probe)
            return; // a newer probe (other custom paths, perhaps) has the last word
        m_isCjxlReady = paths.cjxl.has_value();
        m_isDjxlReady = paths.djxl.has_value();
        m_cjxlPath = paths.cjxl.value_or(notInstalledText());
        m_djxlPath = paths.djxl.value_or(notInstalledText());
        Q_EMIT statusChanged();
    });
}
