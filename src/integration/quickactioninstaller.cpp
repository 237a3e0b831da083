#include "quickactioninstaller.h"

#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <utility>

namespace QuickActionInstaller {
namespace {

// Installed once by an older release; removed on uninstall, never written.
const char kRetiredActionName[] = "🔍 在 Lumevo 中对比查看.workflow";

const char kInfoPlistTemplate[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>NSServices</key>
    <array>
        <dict>
            <key>NSBackgroundColorName</key>
            <string>background</string>
            <key>NSIconName</key>
            <string>NSTouchBarColorPickerFavorites</string>
            <key>NSMenuItem</key>
            <dict>
                <key>default</key>
                <string>@MENU_TITLE@</string>
            </dict>
            <key>NSMessage</key>
            <string>runWorkflowAsService</string>
            <key>NSSendFileTypes</key>
            <array>
                <string>public.item</string>
                <string>public.image</string>
                <string>public.folder</string>
            </array>
        </dict>
    </array>
</dict>
</plist>)";

const char kDocumentWflowTemplate[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>AMApplicationBuild</key>
    <string>523</string>
    <key>AMApplicationVersion</key>
    <string>2.10</string>
    <key>AMDocumentVersion</key>
    <string>2</string>
    <key>actions</key>
    <array>
        <dict>
            <key>action</key>
            <dict>
                <key>AMAccepts</key>
                <dict>
                    <key>Container</key>
                    <string>List</string>
                    <key>Optional</key>
                    <true/>
                    <key>Types</key>
                    <array>
                        <string>com.apple.cocoa.string</string>
                    </array>
                </dict>
                <key>AMActionVersion</key>
                <string>2.0.3</string>
                <key>AMParameterProperties</key>
                <dict>
                    <key>COMMAND_STRING</key>
                    <dict/>
                    <key>CheckedForUserDefaultShell</key>
                    <dict/>
                    <key>inputMethod</key>
                    <dict/>
                    <key>shell</key>
                    <dict/>
                    <key>source</key>
                    <dict/>
                </dict>
                <key>AMProvides</key>
                <dict>
                    <key>Container</key>
                    <string>List</string>
                    <key>Types</key>
                    <array>
                        <string>com.apple.cocoa.string</string>
                    </array>
                </dict>
                <key>ActionBundlePath</key>
                <string>/System/Library/Automator/Run Shell Script.action</string>
                <key>ActionName</key>
                <string>运行 Shell 脚本</string>
                <key>ActionParameters</key>
                <dict>
                    <key>COMMAND_STRING</key>
                    <string>@SCRIPT@</string>
                    <key>CheckedForUserDefaultShell</key>
                    <true/>
                    <key>inputMethod</key>
                    <integer>1</integer>
                    <key>shell</key>
                    <string>/bin/zsh</string>
                    <key>source</key>
                    <string></string>
                </dict>
                <key>BundleIdentifier</key>
                <string>com.apple.RunShellScript</string>
                <key>CFBundleVersion</key>
                <string>2.0.3</string>
                <key>CanShowSelectedItemsWhenRun</key>
                <false/>
                <key>CanShowWhenRun</key>
                <true/>
                <key>Category</key>
                <array>
                    <string>AMCategoryUtilities</string>
                </array>
                <key>Class Name</key>
                <string>RunShellScriptAction</string>
                <key>InputUUID</key>
                <string>0F0A3D22-6B49-4113-9092-FB14D9695C6A</string>
                <key>Keywords</key>
                <array>
                    <string>Shell</string>
                    <string>Script</string>
                    <string>Command</string>
                    <string>Run</string>
                    <string>Unix</string>
                </array>
                <key>OutputUUID</key>
                <string>BA6EC237-7D9C-4C70-98EB-B9EBC5943DB5</string>
                <key>UUID</key>
                <string>B414275E-B4A7-44E2-8DE4-6B51CC9348EA</string>
                <key>UnlocalizedApplications</key>
                <array>
                    <string>Automator</string>
                </array>
                <key>arguments</key>
                <dict>
                    <key>0</key>
                    <dict>
                        <key>default value</key>
                        <integer>0</integer>
                        <key>name</key>
                        <string>inputMethod</string>
                        <key>required</key>
                        <string>0</string>
                        <key>type</key>
                        <string>0</string>
                        <key>value</key>
                        <integer>1</integer>
                    </dict>
                    <key>1</key>
                    <dict>
                        <key>default value</key>
                        <string></string>
                        <key>name</key>
                        <string>source</string>
                        <key>required</key>
                        <string>0</string>
                        <key>type</key>
                        <string>0</string>
                        <key>value</key>
                        <string></string>
                    </dict>
                    <key>2</key>
                    <dict>
                        <key>default value</key>
                        <false/>
                        <key>name</key>
                        <string>CheckedForUserDefaultShell</string>
                        <key>required</key>
                        <string>0</string>
                        <key>type</key>
                        <string>0</string>
                        <key>value</key>
                        <true/>
                    </dict>
                    <key>3</key>
                    <dict>
                        <key>default value</key>
                        <string></string>
                        <key>name</key>
                        <string>COMMAND_STRING</string>
                        <key>required</key>
                        <string>0</string>
                        <key>type</key>
                        <string>0</string>
                        <key>value</key>
                        <string>@SCRIPT@</string>
                    </dict>
                    <key>4</key>
                    <dict>
                        <key>default value</key>
                        <string>/bin/sh</string>
                        <key>name</key>
                        <string>shell</string>
                        <key>required</key>
                        <string>0</string>
                        <key>type</key>
                        <string>0</string>
                        <key>value</key>
                        <string>/bin/zsh</string>
                    </dict>
                </dict>
                <key>isViewVisible</key>
                <integer>1</integer>
            </dict>
        </dict>
    </array>
    <key>connectors</key>
    <dict/>
    <key>workflowMetaData</key>
    <dict>
        <key>applicationBundleIDsByPath</key>
        <dict/>
        <key>applicationPaths</key>
        <array/>
        <key>inputTypeIdentifier</key>
        <string>com.apple.Automator.fileSystemObject</string>
        <key>outputTypeIdentifier</key>
        <string>com.apple.Automator.nothing</string>
        <key>presentationMode</key>
        <integer>15</integer>
        <key>processesInput</key>
        <false/>
        <key>serviceInputTypeIdentifier</key>
        <string>com.apple.Automator.fileSystemObject</string>
        <key>serviceOutputTypeIdentifier</key>
        <string>com.apple.Automator.nothing</string>
        <key>serviceProcessesInput</key>
        <false/>
        <key>systemImageName</key>
        <string>NSTouchBarColorPickerFavorites</string>
        <key>useAutomaticInputType</key>
        <false/>
        <key>workflowTypeIdentifier</key>
        <string>com.apple.Automator.servicesMenu</string>
    </dict>
</dict>
</plist>)";

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

QString menuTitle(const QString &actionName)
{
    return QString(actionName).remove(QStringLiteral(".workflow"));
}

// Apple's writer escapes these three; quotes stay as they are.
QString xmlEscaped(QString text)
{
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

QString workflowScript(const char *option)
{
    return QStringLiteral("for f in \"$@\"\ndo\n    open -a \"Pikora\" --args %1 \"$f\"\ndone")
        .arg(QLatin1String(option));
}

QString shellQuoted(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''"))
        + QLatin1Char('\'');
}

// One Exec= argument as desktop entries (and Nemo, which shell-parses Exec) read it: quoted when
// it holds a reserved character, then the key file's own backslash escaping on top.
QString execArgument(const QString &text)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString argument = QString(text).replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : std::as_const(argument)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        argument = quoted + QLatin1Char('"');
    }
    return argument.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"))
        .replace(QLatin1Char('\t'), QStringLiteral("\\t"));
}

QList<NativeFile> nativeFiles(const Locations &where)
{
    const QString appId = QStringLiteral(PIKORA_APP_ID);
    const QString exec = execArgument(where.program);
    QList<NativeFile> files;
    for (const auto &[name, option, suffix] : {std::tuple{compressActionName(), "--compress", "compress"},
                                               std::tuple{restoreActionName(), "--restore", "restore"}}) {
        const QString title = menuTitle(name);
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
                  fill(kDolphinTemplate, {{"@COMPRESS_TITLE@", menuTitle(compressActionName())},
                                          {"@RESTORE_TITLE@", menuTitle(restoreActionName())},
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
        return fail(error, QStringLiteral("cannot create folder \"%1\": %2")
                               .arg(path, QString::fromLocal8Bit(code.message().c_str())));
    return true;
}

// Removes a file or a link (never what it points to), or with recursive a folder with its
// contents; a missing item is no error.
bool removeItem(const QString &path, bool recursive, QString *error)
{
    std::error_code code;
    if (recursive)
        std::filesystem::remove_all(fsPath(path), code);
    else
        std::filesystem::remove(fsPath(path), code);
    if (code)
        return fail(error, QStringLiteral("cannot remove \"%1\": %2")
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
        return fail(error, QStringLiteral("cannot write \"%1\": %2").arg(path, file.errorString()));
    return true;
}

bool createWorkflow(const Locations &where, const QString &name, const QString &script, QString *error)
{
    const QString bundle = where.servicesDirectory + QLatin1Char('/') + name;
    const QString contents = bundle + QStringLiteral("/Contents");
    removeItem(bundle, true, nullptr); // a bundle that stays is overwritten below or reported there
    return makeFolder(contents, error)
        && writeFile(contents + QStringLiteral("/Info.plist"),
                     fill(kInfoPlistTemplate, {{"@MENU_TITLE@", xmlEscaped(menuTitle(name))}}).toUtf8(), false, error)
        && writeFile(contents + QStringLiteral("/document.wflow"),
                     fill(kDocumentWflowTemplate, {{"@SCRIPT@", xmlEscaped(script)}}).toUtf8(), false, error);
}

// Asks macOS to rebuild its Services menu. Elsewhere the program is missing and that is fine:
// the native menus are read afresh by their file managers.
void refreshServices()
{
    QProcess::startDetached(QStringLiteral("/System/Library/CoreServices/pbs"), {QStringLiteral("-flush")});
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
    return {home + QStringLiteral("/Library/Services"),
            xdgHome("XDG_DATA_HOME", home, QStringLiteral("/.local/share")),
            xdgHome("XDG_CONFIG_HOME", home, QStringLiteral("/.config")), program};
}

const Locations &locations()
{
    static const Locations current = locationsFromEnvironment();
    return current;
}

QString servicesDirectory()
{
    return locations().servicesDirectory;
}

QString compressActionName()
{
    return QStringLiteral("使用Pikora进行无损瘦身.workflow");
}

QString restoreActionName()
{
    return QStringLiteral("使用Pikora还原为 JPEG.workflow");
}

bool isInstalled()
{
    return isInstalled(locations());
}

bool isInstalled(const Locations &where)
{
    return QFileInfo::exists(where.servicesDirectory + QLatin1Char('/') + compressActionName())
        && QFileInfo::exists(where.servicesDirectory + QLatin1Char('/') + restoreActionName());
}

bool install(QString *error)
{
    return install(locations(), error);
}

bool install(const Locations &where, QString *error)
{
    if (!makeFolder(where.servicesDirectory, error)
        || !createWorkflow(where, compressActionName(), workflowScript("--compress"), error)
        || !createWorkflow(where, restoreActionName(), workflowScript("--restore"), error))
        return false;
    for (const NativeFile &file : nativeFiles(where)) {
        if (!makeFolder(QFileInfo(file.path).path(), error) || !writeFile(file.path, file.contents, file.executable, error))
            return false;
    }
    refreshServices();
    return true;
}

bool uninstall(QString *error)
{
    return uninstall(locations(), error);
}

bool uninstall(const Locations &where, QString *error)
{
    for (const QString &name : {compressActionName(), restoreActionName(), QString::fromUtf8(kRetiredActionName)}) {
        if (!removeItem(where.servicesDirectory + QLatin1Char('/') + name, true, error))
            return false;
    }
    for (const NativeFile &file : nativeFiles(where)) {
        if (!removeItem(file.path, false, error))
            return false;
    }
    refreshServices();
    return true;
}

} // namespace QuickActionInstaller
