#include "testenv.h"

#include "app/lifetimestats.h"
#include "app/settingsstore.h"
#include "platform/preferences.h"
#include "platform/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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

bool isolate(const QTemporaryDir &root)
{
    if (!root.isValid())
        return false;
    QStandardPaths::setTestModeEnabled(true);
    isolateHome(root.path());
    return true;
}

void forgetPreferences()
{
    Preferences store;
    for (const QString &key : {SettingsStore::settingsKey, SettingsStore::outputFolderKey, SettingsStore::outputVolumeKey,
                               SettingsStore::autoConvertKey, LifetimeStats::lifetimeBytesKey, LifetimeStats::lifetimeCountKey,
                               LifetimeStats::reductionSavedKey, LifetimeStats::reductionOriginalKey,
                               UiLanguage::preferenceKey})
        store.remove(key);
    store.sync();
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

QByteArray fakeJpeg(int size)
{
    QByteArray bytes(std::max(size, 3), 'j');
    bytes.replace(0, 3, QByteArrayView("\xFF\xD8\xFF", 3));
    return bytes;
}

QByteArray writeFakeJxlCommand()
{
    return QByteArrayLiteral("printf '\\000\\000\\000\\014JXL \\015\\012\\207\\012\\000\\000\\000\\010jbrd' > \"$2\"");
}

QList<NotJpegFile> notJpegFiles()
{
    // 1 × 1 pictures for the formats cjxl reads (PNG, GIF) and plausible heads for the others.
    return {
        {"PNG", QByteArray("\x89\x50\x4E\x47\x0D\x0A\x1A\x0A\x00\x00\x00\x0D\x49\x48\x44\x52\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90\x77\x53\xDE\x00\x00\x00\x0C\x49\x44\x41\x54\x78\x9C\x63\xF8\xCF\xC0\x00\x00\x03\x01\x01\x00\xC9\xFE\x92\xEF\x00\x00\x00\x00\x49\x45\x4E\x44\xAE\x42\x60\x82", 69), "PNG"},
        {"GIF", QByteArray("\x47\x49\x46\x38\x39\x61\x01\x00\x01\x00\x80\x00\x00\xFF\x00\x00\x00\x00\x00\x21\xF9\x04\x01\x00\x00\x00\x00\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B", 43), "GIF"},
        {"WebP", QByteArray("\x52\x49\x46\x46\x1A\x00\x00\x00\x57\x45\x42\x50\x56\x50\x38\x4C\x0D\x00\x00\x00\x2F\x00\x00\x00\x00\x07\xD0\xFF\xFF\x00\x00\x00\x00\x00", 34), "WebP"},
        {"TIFF", QByteArray("\x49\x49\x2A\x00\x08\x00\x00\x00\x00\x00\x00\x00\x00\x00", 14), "TIFF"},
        {"HEIF", QByteArray("\x00\x00\x00\x18\x66\x74\x79\x70\x68\x65\x69\x63\x00\x00\x00\x00\x6D\x69\x66\x31\x68\x65\x69\x63", 24), "HEIF"},
        {"AVIF", QByteArray("\x00\x00\x00\x18\x66\x74\x79\x70\x61\x76\x69\x66\x00\x00\x00\x00\x6D\x69\x66\x31\x61\x76\x69\x66", 24), "AVIF"},
        {"JPEG XL", readAll(dataPath(QStringLiteral("jxl/from-jpeg.jxl"))), "JPEG XL"},
        {"BMP", QByteArray("\x42\x4D\x3A\x00\x00\x00\x00\x00\x00\x00\x36\x00\x00\x00\x28\x00\x00\x00\x01\x00\x00\x00\x01\x00\x00\x00\x01\x00\x18\x00\x00\x00\x00\x00\x04\x00\x00\x00\x13\x0B\x00\x00\x13\x0B\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xFF\x00", 58), "BMP"},
    };
}

} // namespace TestEnv
