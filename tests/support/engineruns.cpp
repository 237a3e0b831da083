#include "engineruns.h"

#include "testenv.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QUrl>

namespace EngineRuns {

namespace {
constexpr int kWaitMs = 60000;
}

TaskItem taskFor(const QString &source, ConversionMode mode)
{
    TaskItem task;
    task.sourceURL = QUrl::fromLocalFile(source);
    task.mode = mode;
    task.originalSize = QFileInfo(source).size();
    return task;
}

AppSettings settingsWith(DeleteStrategy strategy)
{
    AppSettings settings;
    settings.deleteStrategy = strategy;
    settings.compressionEffort = 3;
    return settings;
}

TaskItem runJob(const TaskItem &task, const AppSettings &settings, QList<TaskItem> *updates)
{
    FileJob job(task, settings);
    QList<TaskItem> seen;
    QObject::connect(&job, &FileJob::updated, &job, [&seen](const TaskItem &t) { seen.append(t); });
    QSignalSpy finished(&job, &FileJob::finished);
    job.start();
    if (!finished.wait(kWaitMs))
        qFatal("job did not finish");
    if (updates)
        *updates = seen;
    return job.task();
}

ToolRun::Outcome runToEnd(ToolRun *run)
{
    QSignalSpy spy(run, &ToolRun::finished);
    run->start();
    if (!spy.wait(kWaitMs))
        qFatal("tool run did not finish");
    return run->outcome();
}

QByteArray restored(const QString &jxl, const QString &out)
{
    QFile::remove(out);
    QProcess djxl;
    djxl.start(QStringLiteral("djxl"), {jxl, out});
    djxl.waitForFinished(kWaitMs);
    return TestEnv::readAll(out);
}

} // namespace EngineRuns
