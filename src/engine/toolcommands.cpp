#include "toolcommands.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <algorithm>

namespace ToolCommands {

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && ::access(QFile::encodeName(path).constData(), X_OK) == 0;
}

QStringList builtInSearchFolders()
{
    QStringList folders;
    if (QCoreApplication::instance()) {
        const QString appDir = QCoreApplication::applicationDirPath();
        folders << QDir::cleanPath(appDir + QStringLiteral("/../share/pikora/bin"));
        folders << appDir + QStringLiteral("/bin");
    }
    folders << QStringLiteral("/opt/homebrew/bin") << QStringLiteral("/usr/local/bin") << QStringLiteral("/usr/bin")
            << QStringLiteral("/bin");
    return folders;
}

std::optional<QString> resolveToolPath(const QString &name, const QString &customPath)
{
    return resolveToolPath(name, customPath, builtInSearchFolders());
}

std::optional<QString> resolveToolPath(const QString &name, const QString &customPath, const QStringList &folders)
{
    if (!customPath.isEmpty() && isExecutableFile(customPath))
        return customPath;
    for (const QString &folder : folders) {
        const QString candidate = folder + QLatin1Char('/') + name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

ToolPaths checkToolsAvailability(const QString &customCjxl, const QString &customDjxl)
{
    ToolPaths paths;
    paths.cjxl = resolveToolPath(QStringLiteral("cjxl"), customCjxl);
    paths.djxl = resolveToolPath(QStringLiteral("djxl"), customDjxl);
    return paths;
}

int clampedEffort(int effort)
{
    return std::clamp(effort, 1, 9);
}

QStringList cjxlArguments(const QString &source, const QString &destination, int effort)
{
    return {source, destination, QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-q"), QStringLiteral("100"),
            QStringLiteral("-e"), QString::number(clampedEffort(effort))};
}

QStringList djxlArguments(const QString &source, const QString &destination)
{
    return {source, destination};
}

bool djxlFellBackToPixels(const QByteArray &standardError)
{
    return standardError.contains("Retrying with --pixels_to_jpeg") || standardError.contains("Decoded to pixels");
}

} // namespace ToolCommands
