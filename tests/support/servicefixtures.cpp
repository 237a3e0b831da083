#include "servicefixtures.h"

#include "app/importservice.h"
#include "app/tasklist.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

namespace ServiceFixtures {

QString caseFolder(const QTemporaryDir &root)
{
    QString folder = root.filePath(QString::fromLatin1(QTest::currentTestFunction()));
    if (const char *tag = QTest::currentDataTag())
        folder += QLatin1Char('/') + QString::fromLatin1(tag).replace(QLatin1Char(' '), QLatin1Char('_'));
    return folder;
}

QStringList names(const QString &stem, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(stem + QString::number(i) + QStringLiteral(".jpg"));
    return out;
}

QList<TaskItem> addPhotos(TaskList *list, const QString &folder, const QStringList &names, qint64 size)
{
    QList<TaskItem> tasks;
    for (const QString &name : names) {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(folder + QStringLiteral("/photos/") + name);
        task.originalSize = size;
        TestEnv::writeAll(task.sourceURL.toLocalFile(), TestEnv::fakeJpeg(1000));
        tasks.append(task);
    }
    list->append(tasks);
    return tasks;
}

QList<TaskItem> addPhotos(TaskList *list, const QString &folder, const QList<qint64> &sizes)
{
    QList<TaskItem> tasks;
    for (qsizetype i = 0; i < sizes.size(); ++i)
        tasks += addPhotos(list, folder, {QStringLiteral("p%1.jpg").arg(list->size())}, sizes.at(i));
    return tasks;
}

int importAndWait(ImportService &imports, const QList<QUrl> &urls)
{
    QSignalSpy finished(&imports, &ImportService::importFinished);
    imports.importURLs(urls);
    return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000) ? finished.first().first().toInt() : -1;
}

bool writeNative(const QByteArray &path, const QByteArray &content)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
    return ::close(fd) == 0 && written;
}

} // namespace ServiceFixtures
