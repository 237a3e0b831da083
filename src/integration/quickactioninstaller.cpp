#include "quickactioninstaller.h"

#include "desktopentry.h"

#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStringList>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <utility>

namespace QuickActionInstaller {
namespace {

// Nautilus and Caja pass the selection relative to the folder they run the script in; pikora
// may hand the paths to an instance started elsewhere, so they are made absolute here.
const char kNativeScriptTemplate[] = R"(#!/bin/sh
for f in "$@"; do
    case $f in /*) ;; *) f=$PWD/$f ;; esac
    set -- "$@" "$f"
    shift
done
exec @PROGRAM@ @OPTION@ "$@"
)";

const char kDolphinTemplate[] = R"([Desktop Entry]
Type=Service
Name=Pikora
MimeType=image/jpeg;image/jxl;inode/directory;
X-KDE-ServiceTypes=KonqPopupMenu/Plugin
Actions=compress;restore;

[Desktop Action compress]
Name=@COMPRESS_TITLE@
Exec=@PROGRAM@ --compress %F

[Desktop Action restore]
Name=@RESTORE_TITLE@
Exec=@PROGRAM@ --restore %F
)";

const char kNemoTemplate[] = R"([Nemo Action]
Active=true
Name=@TITLE@
Exec=@PROGRAM@ @OPTION@ %F
Selection=notnone
Extensions=any;
Quote=double
)";

struct NativeFile
{
    QString path;
    QByteArray contents;
    bool executable;
};

QString fill(const char *text, std::initializer_list<std::pair<const char *, QString>> values)
{
    QString result = QString::fromUtf8(text);
    for (const auto &[marker, value] : values)
        result.replace(QLatin1String(marker), value);
    return result;
}

QString shellQuoted(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        + QLatin1Char('\'');
}

QList<NativeFile> nativeFiles(const Locations &where)
{
    const QString appId = QStringLiteral(PIKORA_APP_ID);
    const QString exec = DesktopEntry::execArgument(where.program);
    QList<NativeFile> files;
    for (const auto &[title, option, suffix] : {std::tuple{compressActionName(), "--compress", "compress"},
                                                std::tuple{restoreActionName(), "--restore", "restore"}}) {
        const QByteArray script =
            fill(kNativeScriptTemplate, {{"@PROGRAM@", shellQuoted(where.program)}, {"@OPTION@", QLatin1String(option)}})
                .toUtf8();
        files.append({where.dataHome + QStringLiteral("/nautilus/scripts/") + title, script, true});
        files.append({where.configHome + QStringLiteral("/caja/scripts/") + title, script, true});
        files.append({where.dataHome + QStringLiteral("/nemo/actions/") + appId + QLatin1Char('-') + QLatin1String(suffix)
                          + QStringLiteral(".nemo_action"),
                      fill(kNemoTemplate, {{"@TITLE@", title}, {"@PROGRAM@", exec}, {"@OPTION@", QLatin1String(option)}})
                          .toUtf8(),
                      false});
    }
    // KF6 ignores service menus that are not executable.
    files.append({where.dataHome + QStringLiteral("/kio/servicemenus/") + appId + QStringLiteral(".desktop"),
                  fill(kDolphinTemplate, {{"@COMPRESS_TITLE@", compressActionName()},
                                          {"@RESTORE_TITLE@", restoreActionName()},
                                          {"@PROGRAM@", exec}})
                      .toUtf8(),
                  true});
    return files;
}

bool fail(QString *error, const QString &why)
{
    if (error)
        *error = why;
    return false;
}

std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

bool makeFolder(const QString &path, QString *error)
{
    std::error_code code;
    std::filesystem::create_directories(fsPath(path), code);
    if (code)
        return fail(error, QCoreApplication::translate("QuickActionInstaller", "无法创建文件夹“%1”：%2")
                               .arg(path, QString::fromLocal8Bit(code.message().c_str())));
    return true;
}

// Removes a file or a link (never what it points to, nor a folder that holds anything); a
// missing item is no error.
bool removeItem(const QString &path, QString *error)
{
    std::error_code code;
    std::filesystem::remove(fsPath(path), code);
    if (code)
        return fail(error, QCoreApplication::translate("QuickActionInstaller", "无法删除“%1”：%2")
                               .arg(path, QString::fromLocal8Bit(code.message().c_str())));
    return true;
}

bool writeFile(const QString &path, const QByteArray &contents, bool executable, QString *error)
{
    const QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
        | QFileDevice::ReadOther
        | (executable ? QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther : QFileDevice::Permissions());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.setPermissions(permissions)
        || !file.commit())
        return fail(error, QCoreApplication::translate("QuickActionInstaller", "无法写入“%1”：%2")
                               .arg(path, file.errorString()));
    return true;
}

QString xdgHome(const char *variable, const QString &home, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : home + fallback;
}

} // namespace

QString defaultProgram()
{
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/pikora"));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("pikora"));
    return onPath.isEmpty() ? QStringLiteral("pikora") : onPath;
}

// The XDG variables are read directly, not through QStandardPaths: the file managers read the
// real ones, whatever Qt's test mode says.
Locations locationsFromEnvironment(const QString &program)
{
    const QString home = QDir::homePath();
    return {xdgHome("XDG_DATA_HOME", home, QStringLiteral("/.local/share")),
            xdgHome("XDG_CONFIG_HOME", home, QStringLiteral("/.config")), program};
}

const Locations &locations()
{
    static const Locations current = locationsFromEnvironment();
    return current;
}

QString compressActionName()
{
    return QStringLiteral("使用Pikora进行无损瘦身");
}

QString restoreActionName()
{
    return QStringLiteral("使用Pikora还原为 JPEG");
}

QStringList installedPaths(const Locations &where)
{
    QStringList paths;
    for (const NativeFile &file : nativeFiles(where))
        paths.append(file.path);
    return paths;
}

bool isInstalled()
{
    return isInstalled(locations());
}

bool isInstalled(const Locations &where)
{
    const QStringList paths = installedPaths(where);
    return std::all_of(paths.cbegin(), paths.cend(), [](const QString &path) { return QFileInfo::exists(path); });
}

bool install(QString *error)
{
    return install(locations(), error);
}

bool install(const Locations &where, QString *error)
{
    for (const NativeFile &file : nativeFiles(where)) {
        if (!makeFolder(QFileInfo(file.path).path(), error) || !writeFile(file.path, file.contents, file.executable, error))
            return false;
    }
    return true;
}

bool uninstall(QString *error)
{
    return uninstall(locations(), error);
}

bool uninstall(const Locations &where, QString *error)
{
    for (const QString &path : installedPaths(where)) {
        if (!removeItem(path, error))
            return false;
    }
    return true;
}

} // namespace QuickActionInstaller
