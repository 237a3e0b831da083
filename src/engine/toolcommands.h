#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Finding the external tools and building their command lines. Stateless: every call searches again.
namespace ToolCommands {

// Folders searched after the custom path, in order: the installed data folder's bin/, bin/ beside
// the executable, then the fixed system folders.
QStringList builtInSearchFolders();

// A regular file this process may execute (a folder passes the permission test, yet cannot run).
bool isExecutableFile(const QString &path);

std::optional<QString> resolveToolPath(const QString &name, const QString &customPath);
std::optional<QString> resolveToolPath(const QString &name, const QString &customPath, const QStringList &folders);

struct ToolPaths
{
    std::optional<QString> cjxl;
    std::optional<QString> djxl;
};
ToolPaths checkToolsAvailability(const QString &customCjxl, const QString &customDjxl);

int clampedEffort(int effort);
QStringList cjxlArguments(const QString &source, const QString &destination, int effort);
QStringList djxlArguments(const QString &source, const QString &destination);

// djxl says so when a file has no JPEG bitstream it can rebuild (none, or a damaged one) and it
// encodes new pixels instead, still exiting with 0.
bool djxlFellBackToPixels(const QByteArray &standardError);

} // namespace ToolCommands
