#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QTemporaryDir;

// Helpers shared by the test suites: isolated home folders, test data and fake tools.
namespace TestEnv {

// Points HOME and the XDG folders (config, data, cache, runtime) below root, so nothing a
// test does reaches the real user's files. Call before the first QSettings or QStandardPaths use.
void isolateHome(const QString &root);
// The usual start of a suite: root is valid, Qt's test mode is on and the home lies within root.
bool isolate(const QTemporaryDir &root);
// Removes what the services store (settings, output folder and its volume, lifetime counters,
// language), so that a test starts as on a fresh install.
void forgetPreferences();
// Makes folder and points TMPDIR at it (verification copies and downloads land there); returns it.
QString isolateTemporaries(const QString &folder);

// Absolute path of a file under tests/data.
QString dataPath(const QString &relative);

// Copies a file from tests/data into folder (as newName when given), writable; returns its path.
QString copyData(const QString &relative, const QString &folder, const QString &newName = QString());

// Writes an executable /bin/sh script at path with the given body (without the #! line).
QString writeScript(const QString &path, const QByteArray &body);

// Full path of an installed tool (cjxl, djxl), or empty when it is not installed.
QString installedTool(const QString &name);

// The files of a folder by name, hidden ones included (a leftover temporary would show here).
QStringList entries(const QString &folder);

// Bytes that pass for a JPEG by their signature, for jobs whose tool is a fake.
QByteArray fakeJpeg(int size);
// A shell command for fake encoders: writes to "$2" the smallest JXL container that carries a
// JPEG reconstruction box, which is what a job checks for in a fresh output.
QByteArray writeFakeJxlCommand();
// How many bytes that command writes.
inline constexpr qint64 fakeJxlSize = 20;

// Small but well-formed files of the image formats a job must not take for a JPEG, whatever
// their name: tag, bytes, and the format's name as the job's message gives it.
struct NotJpegFile
{
    const char *tag;
    QByteArray bytes;
    const char *format;
};
QList<NotJpegFile> notJpegFiles();

QByteArray readAll(const QString &path);
void writeAll(const QString &path, const QByteArray &data);

} // namespace TestEnv
