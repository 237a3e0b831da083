#include "watchautostart.h"

#include "desktopentry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <filesystem>
#include <system_error>

namespace WatchAutostart {
namespace {

// The entry's own texts are fixed: the desktop picks the line for its language.
const char kEntryTemplate[] = R"([Desktop Entry]
Type=Application
Name=Pikora: convert new photos
Name[zh_CN]=Pikora：自动转换新照片
Comment=Converts new JPEG photos in the chosen folders to JPEG XL without loss
Comment[zh_CN]=将所选文件夹中的新 JPEG 照片无损转换为 JPEG XL
Exec=@EXEC@
Terminal=false
NoDisplay=true
X-GNOME-Autostart-enabled=true
)";

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

} // namespace

QString defaultProgram()
{
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/pikora-cli"));
        if (beside.isFile() && beside.isExecutable())
            return beside.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("pikora-cli"));
}

// XDG_CONFIG_HOME is read directly, not through QStandardPaths: the session reads the real one,
// whatever Qt's test mode says.
Locations locationsFromEnvironment(const QString &program)
{
    const QString value = qEnvironmentVariable("XDG_CONFIG_HOME");
    return {QDir::isAbsolutePath(value) ? QDir::cleanPath(value) : QDir::homePath() + QStringLiteral("/.config"), program};
}

QString entryPath(const Locations &where)
{
    return where.configHome + QStringLiteral("/autostart/pikora-watch.desktop");
}

QStringList command(const QString &program, const QString &originals, const QStringList &folders)
{
    return QStringList{program, QStringLiteral("watch"), QStringLiteral("--saved"), QStringLiteral("-q"), QStringLiteral("-o"), originals}
    + folders;
}

QByteArray entryText(const QString &program, const QString &originals, const QStringList &folders)
{
    return QString::fromUtf8(kEntryTemplate)
        .replace(QStringLiteral("@EXEC@"), DesktopEntry::execLine(command(program, originals, folders)))
        .toUtf8();
}

bool isEnabled(const Locations &where)
{
    return QFileInfo::exists(entryPath(where));
}

bool enable(const Locations &where, const QString &originals, const QStringList &folders, QString *error)
{
    if (folders.isEmpty())
        return fail(error, QCoreApplication::translate("WatchAutostart", "没有要自动转换的文件夹"));
    if (!QDir::isAbsolutePath(where.program))
        return fail(error, QCoreApplication::translate("WatchAutostart", "找不到 pikora-cli"));
    const QString path = entryPath(where);
    const QString folder = QFileInfo(path).path();
    std::error_code code;
    std::filesystem::create_directories(fsPath(folder), code);
    if (code)
        return fail(error, QCoreApplication::translate("WatchAutostart", "无法创建文件夹“%1”：%2")
                               .arg(folder, QString::fromLocal8Bit(code.message().c_str())));
    const QByteArray contents = entryText(where.program, originals, folders);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size() || !file.commit())
        return fail(error,
                    QCoreApplication::translate("WatchAutostart", "无法写入“%1”：%2").arg(path, file.errorString()));
    return true;
}

bool disable(const Locations &where, QString *error)
{
    const QString path = entryPath(where);
    QFile file(path);
    if (file.exists() && !file.remove())
        return fail(error,
                    QCoreApplication::translate("WatchAutostart", "无法删除“%1”：%2").arg(path, file.errorString()));
    return true;
}

} // namespace WatchAutostart
