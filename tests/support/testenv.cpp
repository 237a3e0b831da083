#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace TestEnv {

QString isolateTemporaries(const QString &folder)
{
    QDir().mkpath(folder);
    qputenv("TMPDIR", QFile::encodeName(folder));
    return folder;
}

void isolateHome(const QString &root)
{
    const QString home = QDir(root).absoluteFilePath(QStringLiteral("home"));
    const auto make = [&](const char *variable, const QString &path) {
        QDir().mkpath(path);
        qputenv(variable, QFile::encodeName(path));
    };
    make("HOME", home);
    make("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    make("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    make("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    const QString runtime = QDir(root).absoluteFilePath(QStringLiteral("runtime"));
    make("XDG_RUNTIME_DIR", runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString dataPath(const QString &relative)
{
    return QDir(QStringLiteral(PIKORA_TEST_DATA_DIR)).absoluteFilePath(relative);
}

QString copyData(const QString &relative, const QString &folder, const QString &newName)
{
    const QString source = dataPath(relative);
    const QString target = QDir(folder).absoluteFilePath(newName.isEmpty() ? QFileInfo(source).fileName() : newName);
    QDir().mkpath(QFileInfo(target).absolutePath());
    QFile::remove(target);
    if (!QFile::copy(source, target))
        qFatal("cannot copy test data %s", qPrintable(source));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return target;
}

QString writeScript(const QString &path, const QByteArray &body)
{
    writeAll(path, QByteArrayLiteral("#!/bin/sh\n") + body + '\n');
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QString installedTool(const QString &name)
{
    return QStandardPaths::findExecutable(name);
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void writeAll(const QString &path, const QByteArray &data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace TestEnv
