#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the test suites: isolated home folders, test data and fake tools.
namespace TestEnv {

// Points HOME and the XDG folders (config, data, cache, runtime) below root, so nothing a
// test does reaches the real user's files. Call before the first QSettings or QStandardPaths use.
void isolateHome(const QString &root);
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

QByteArray readAll(const QString &path);
void writeAll(const QString &path, const QByteArray &data);

} // namespace TestEnv
