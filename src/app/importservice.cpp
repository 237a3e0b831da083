#include "importservice.h"

#include "engine/outputfiles.h"
#include "engine/whenready.h"
#include "tasklist.h"
#include "workspace.h"

#include <QFuture>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <tuple>

namespace {

// Frees a large value on the pool: freeing the jobs of a big import would hold the GUI thread.
template <typename T>
void releaseOffThread(T value)
{
    auto holder = std::make_shared<T>(std::move(value));
    QThreadPool::globalInstance()->start([holder = std::move(holder)]() mutable { holder.reset(); });
}

} // namespace

// What an import's worker hands back: the scan, and the candidates of the import's direction
// with their standardized paths and sizes, and what it could not take, all read off the GUI
// thread.
struct ImportService::ScanOutcome
{
    ScanResult result;
    // The jobs the scan proposes, made on the worker, one per file.
    QList<TaskItem> tasks;
    QStringList standardized; // by job
    // By job id, for a source reached through a symbolic link: the file it reaches.
    QHash<QUuid, QString> realPaths;
    FileScanner::ImportProblems problems;
    // How far the merge on the GUI thread has come, and how many jobs it added.
    qsizetype merged = 0;
    int added = 0;
};

ImportService::ImportService(Workspace *workspace, SourceHeld sourceHeld, QObject *parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_sourceHeld(std::move(sourceHeld))
{
}

ImportService::~ImportService() = default;

void ImportService::clearImportProblems()
{
    if (m_importProblems.isEmpty())
        return;
    m_importProblems.clear();
    Q_EMIT importProblemsChanged();
}

void ImportService::importURLs(const QList<QUrl> &urls)
{
    ++m_scansRunning;
    if (m_scansRunning == 1)
        Q_EMIT isScanningChanged();
    const ConversionMode direction = m_workspace->activeMode();
    whenReady(this, QtConcurrent::run([urls, direction] {
        auto outcome = std::make_shared<ScanOutcome>();
        outcome->result = FileScanner::scan(urls);
        // A killed run's hidden temporaries go from the folders imported, not only where a job writes.
        OutputFiles::removeDeadLeftoversAround(urls, outcome->result);
        const ScanResult &result = outcome->result;
        const bool jpegs = direction == ConversionMode::jpegToJXL;
        const QList<QUrl> &candidates = jpegs ? result.jpegFiles : result.jxlFiles;
        // The walk already read every size; asking the disk again would double an import's cost.
        const QList<qint64> &sizes = jpegs ? result.jpegSizes : result.jxlSizes;
        const QStringList &roots = jpegs ? result.jpegRoots : result.jxlRoots;
        outcome->problems = FileScanner::importProblems(result, direction);
        // Identity by real path: two spellings of one file, or a link and the photo it names, in
        // one drop make one job.
        QSet<QString> seen;
        outcome->tasks.reserve(candidates.size() + outcome->problems.failedTasks.size());
        const auto propose = [&](const TaskItem &task, const QString &path, const QString &realPath) {
            if (seen.contains(realPath))
                return;
            seen.insert(realPath);
            outcome->standardized.append(path);
            if (realPath != path)
                outcome->realPaths.insert(task.id, realPath);
            outcome->tasks.append(task);
        };
        FileScanner::forEachPhoto(result, direction, [&](qsizetype i, const QString &path, const QString &realPath) {
            TaskItem task;
            task.sourceURL = candidates.at(i);
            task.mode = direction;
            task.originalSize = sizes.at(i);
            task.importRoot = roots.at(i);
            propose(task, path, realPath);
        });
        // Photos whose names are not UTF-8 show as failed jobs, once each like any other file.
        for (const TaskItem &failed : std::as_const(outcome->problems.failedTasks)) {
            const QString path = TaskList::standardizedPath(failed.sourceURL);
            propose(failed, path, path);
        }
        return outcome;
    }), [this, direction](const std::shared_ptr<ScanOutcome> &outcome) { mergeScan(direction, outcome); });
}

void ImportService::mergeScan(ConversionMode direction, const std::shared_ptr<ScanOutcome> &outcome)
{
    if (outcome->merged == 0) {
        releaseOffThread(std::exchange(m_currentScanResult, outcome->result));
        Q_EMIT currentScanResultChanged();
    }

    // Checked against the list as it stands now (its own path index) and against files a
    // running job still owns after its row was removed, by the path and, for a file reached
    // through a link, by the file it reaches.
    TaskList *list = m_workspace->tasks(direction);
    const auto taken = [this, list](const QString &path) {
        return list->containsPath(path) || (m_sourceHeld && m_sourceHeld(path));
    };
    QList<TaskItem> added;
    const qsizetype end = std::min(outcome->tasks.size(), outcome->merged + kMergeChunk);
    for (qsizetype i = outcome->merged; i < end; ++i) {
        const TaskItem &task = outcome->tasks.at(i);
        const auto real = outcome->realPaths.constFind(task.id);
        if (!taken(outcome->standardized.at(i)) && (real == outcome->realPaths.cend() || !taken(*real)))
            added.append(task);
    }
    outcome->merged = end;
    list->append(added, outcome->realPaths);
    outcome->added += int(added.size());
    if (end < outcome->tasks.size()) {
        QMetaObject::invokeMethod(
            this, [this, direction, outcome] { mergeScan(direction, outcome); }, Qt::QueuedConnection);
        return;
    }

    releaseOffThread(std::make_tuple(std::exchange(outcome->tasks, {}), std::exchange(outcome->standardized, {}),
                                     std::exchange(outcome->realPaths, {}), std::exchange(outcome->result, {})));
    if (outcome->problems.messages != m_importProblems) {
        m_importProblems = outcome->problems.messages;
        Q_EMIT importProblemsChanged();
    }

    --m_scansRunning;
    if (m_scansRunning == 0)
        Q_EMIT isScanningChanged();
    Q_EMIT importFinished(outcome->added);
}
