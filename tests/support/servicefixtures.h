#pragma once

#include "model/taskitem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

class ImportService;
class QTemporaryDir;
class TaskList;

// Fixtures the service suites share: a folder per test case, photos added as jobs, imports
// waited for.
namespace ServiceFixtures {

// root/<test function>, and /<data tag> below it with blanks made underscores.
QString caseFolder(const QTemporaryDir &root);
// stem0.jpg … stem<count - 1>.jpg
QStringList names(const QString &stem, int count);
// Writes folder/photos/<name> as a fake JPEG of 1000 bytes per name and appends a job of size
// bytes for each to list.
QList<TaskItem> addPhotos(TaskList *list, const QString &folder, const QStringList &names, qint64 size = 1000);
// The same with one job per size, named p<row>.jpg after the rows the list holds already.
QList<TaskItem> addPhotos(TaskList *list, const QString &folder, const QList<qint64> &sizes);
// Imports urls and waits for it; the number of jobs added, or -1 when the import never ended.
int importAndWait(ImportService &imports, const QList<QUrl> &urls);
// Creates a file by its native name (not necessarily UTF-8); false when it could not.
bool writeNative(const QByteArray &path, const QByteArray &content);

} // namespace ServiceFixtures
