#include "batchcontroller.h"

#include "batchpreparation.h"
#include "memoryadmission.h"
#include "engine/filejob.h"
#include "engine/whenready.h"
#include "tasklist.h"

#include <QDir>
#include <QtConcurrent>

#include <algorithm>
#include <chrono>

namespace {

qint64 steadyMilliseconds()
{
    return qint64(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count());
}

// Estimates are read ahead of the queue in chunks, so a long queue never delays the start.
constexpr qsizetype kEstimateChunk = 64;

} // namespace

BatchController::BatchController(TaskList *compressTasks, TaskList *restoreTasks, QObject *parent)
    : QObject(parent)
    , m_compressTasks(compressTasks)
    , m_restoreTasks(restoreTasks)
    , m_clock(&steadyMilliseconds)
    , m_memory(new MemoryAdmission(m_clock, this))
{
    connect(m_memory, &MemoryAdmission::retry, this, &BatchController::fill);
}

BatchController::~BatchController()
{
    // Jobs still running are told to stop and left to finish on their own: their tools get
    // SIGTERM now, and nothing here waits for them to exit.
    for (Running &running : m_running) {
        running.job->disconnect(this);
        running.job->setParent(nullptr);
        connect(running.job, &FileJob::finished, running.job, &QObject::deleteLater);
        running.job->cancel();
    }
}

void BatchController::setClock(Clock clock)
{
    m_clock = clock;
    m_memory->setClock(std::move(clock));
}

std::optional<ConversionMode> BatchController::direction() const
{
    return isRunning() ? std::optional<ConversionMode>(m_batch->mode) : std::nullopt;
}

std::optional<qint64> BatchController::remainingSeconds() const
{
    return isRunning() ? m_batch->progress.remainingSeconds(m_clock()) : std::nullopt;
}

TaskList *BatchController::list(ConversionMode mode) const
{
    return mode == ConversionMode::jpegToJXL ? m_compressTasks : m_restoreTasks;
}

QList<TaskItem> BatchController::waitingJobs(ConversionMode mode) const
{
    QList<TaskItem> waiting;
    for (const TaskItem &task : list(mode)->items()) {
        // A job still held by a tool (of a cancelled batch, say) is not started twice, and one
        // whose source names no file never starts.
        if (task.isWaiting() && task.isRunnable() && !isHeld(task.id)
            && !(m_batch && m_batch->stopped.contains(task.id)))
            waiting.append(task);
    }
    return waiting;
}

bool BatchController::start(ConversionMode mode, int windowLimit)
{
    if (m_batch)
        return false;
    const QList<TaskItem> waiting = waitingJobs(mode);
    if (waiting.isEmpty())
        return false;
    m_batch = Batch(); // clang 14 rejects emplace() here: it takes the nested struct for not default-constructible
    m_batch->serial = ++m_serial;
    m_batch->mode = mode;
    m_batch->window = int(std::min<qsizetype>(waiting.size(), std::max(1, windowLimit)));
    prepare(waiting);
    Q_EMIT stateChanged();
    return true;
}

void BatchController::prepare(const QList<TaskItem> &waiting)
{
    m_batch->preparing = true;
    m_batch->customCjxl = m_jobSettings.customCjxlPath;
    m_batch->customDjxl = m_jobSettings.customDjxlPath;
    const quint64 serial = m_batch->serial;
    // Compression jobs that verify (asked to, or before giving up their source) copy the photo
    // into the temporary folder while they run: at most one per job in flight.
    DiskSpaceGuard::CapacityOptions capacity;
    capacity.verificationCopies =
        m_jobSettings.deleteStrategy != DeleteStrategy::keepOriginal || m_jobSettings.verifyLossless;
    capacity.concurrentJobs = m_batch->window;
    capacity.temporaryFolder = QDir::tempPath();
    // Deleted sources give their room to the outputs after them: only the outputs of the jobs
    // alive at once need room together.
    capacity.sources = m_jobSettings.deleteStrategy;
    capacity.jobsAlive = jobsAlivePerPlace * m_batch->window;
    BatchPreparation::Request request{waiting,
                                      capacity,
                                      m_searchFolders,
                                      m_batch->customCjxl,
                                      m_batch->customDjxl,
                                      m_outputFolder,
                                      m_missingFolder == MissingFolder::refuse,
                                      m_outputVolume};
    // statvfs on every output folder and the tool search can stall on a slow or hung disk.
    whenReady(
        this,
        QtConcurrent::run(&BatchPreparation::run, std::move(request)),
        [this, serial](const BatchPreparation &preparation) {
            if (m_batch && m_batch->serial == serial) // else cancelled meanwhile
                onPrepared(preparation);
        });
}

void BatchController::onPrepared(const BatchPreparation &preparation)
{
    const ConversionMode mode = m_batch->mode;
    if (!preparation.foundVolume.isEmpty() && preparation.outputFolder == m_outputFolder && m_outputVolume.isEmpty()) {
        m_outputVolume = preparation.foundVolume;
        Q_EMIT outputVolumeFound(m_outputFolder, m_outputVolume);
    }
    if (!preparation.check.isSafe || !preparation.missingFolder.isEmpty()) {
        const bool followUp = m_batch->begun;
        m_batch.reset();
        m_memory->stopRetrying();
        Q_EMIT stateChanged();
        Q_EMIT progressChanged();
        if (preparation.missingFolder.isEmpty())
            Q_EMIT refused(mode, preparation.check);
        else if (preparation.elsewhere)
            Q_EMIT outputFolderElsewhere(mode, preparation.missingFolder);
        else
            Q_EMIT outputFolderMissing(mode, preparation.missingFolder);
        if (followUp)
            Q_EMIT finished(mode);
        return;
    }
    m_batch->cjxl = preparation.cjxl;
    m_batch->djxl = preparation.djxl;
    // Only the jobs the disk check counted are queued; any added meanwhile wait for a follow-up.
    // The ids of jobs started before it are done with: a long run holds only what is to come.
    m_batch->queue.remove(0, m_batch->next);
    m_batch->next = 0;
    const TaskList *tasks = list(mode);
    for (const QUuid &id : preparation.checked) {
        const TaskItem *task = tasks->find(id);
        if (!task)
            continue;
        m_batch->queue.append(id);
        m_batch->sizes.insert(id, task->originalSize);
        m_batch->progress.add(task->originalSize);
    }
    m_batch->preparing = false;
    const bool first = !m_batch->begun;
    if (first) {
        m_batch->begun = true;
        m_batch->progress.begin(m_clock());
        Q_EMIT started(mode);
    }
    Q_EMIT stateChanged();
    Q_EMIT progressChanged();
    fill();
}

void BatchController::dropQueued(const QUuid &id)
{
    m_batch->progress.remove(m_batch->sizes.value(id));
    m_batch->sizes.remove(id);
    m_needs.remove(id);
}

void BatchController::fill()
{
    grantTools();
    if (!m_batch || m_batch->preparing)
        return;
    const TaskList *tasks = list(m_batch->mode);
    bool dropped = false;
    // A job that only places its output leaves its place in the window to the next one, so the
    // tools never wait for the disk; the jobs finishing that way are bounded by the window too.
    // One more job per place is prepared ahead (source read, temporary made) while the tools
    // run, so that a place that frees up starts the next tool at once.
    const qsizetype window = m_batch->window;
    while (m_batch->next < m_batch->queue.size() && unfinishedToolJobCount() < 2 * window
           && m_running.size() < jobsAlivePerPlace * window) {
        const QUuid id = m_batch->queue.at(m_batch->next);
        const TaskItem *task = tasks->find(id);
        // Gone from the list, no longer waiting, stopped by hand, or still held by an older job.
        if (!task || !task->isWaiting() || m_batch->stopped.contains(id) || isHeld(id)) {
            ++m_batch->next;
            dropQueued(id);
            dropped = true;
            continue;
        }
        const auto need = m_needs.constFind(id);
        if (need == m_needs.cend()) {
            requestEstimates();
            break;
        }
        if (!m_memory->admits(*need, reservedMemory(), toolJobCount() > 0))
            break;
        ++m_batch->next;
        launch(*task, *need);
    }
    if (dropped)
        Q_EMIT progressChanged();
    drainIfDone();
}

qsizetype BatchController::toolJobCount() const
{
    return std::count_if(m_running.cbegin(), m_running.cend(),
                         [](const Running &running) { return running.hasTool && !running.toolsDone; });
}

qsizetype BatchController::unfinishedToolJobCount() const
{
    return std::count_if(m_running.cbegin(), m_running.cend(), [](const Running &running) { return !running.toolsDone; });
}

void BatchController::grantTools()
{
    // Jobs of a cancelled batch are being stopped: they get no place.
    while (m_batch && !m_awaitingTool.isEmpty() && toolJobCount() < m_batch->window) {
        const QUuid id = m_awaitingTool.takeFirst();
        const auto it = m_running.find(id);
        if (it == m_running.end() || it->serial != m_batch->serial || it->stopping)
            continue;
        it->hasTool = true;
        it->job->allowTool();
    }
}

qint64 BatchController::reservedMemory() const
{
    qint64 reserved = 0;
    for (const Running &running : m_running)
        reserved += running.toolsDone ? 0 : running.need;
    return reserved;
}

void BatchController::requestEstimates()
{
    if (m_estimating)
        return;
    struct Item
    {
        QUuid id;
        QString path;
        ConversionMode mode;
        qint64 size;
    };
    QList<Item> items;
    const TaskList *tasks = list(m_batch->mode);
    for (qsizetype i = m_batch->next; i < m_batch->queue.size() && items.size() < kEstimateChunk; ++i) {
        const QUuid &id = m_batch->queue.at(i);
        if (m_needs.contains(id))
            continue;
        if (const TaskItem *task = tasks->find(id))
            items.append({id, task->sourceURL.toLocalFile(), task->mode, task->originalSize});
        else
            m_needs.insert(id, 0); // skipped at its turn anyway
    }
    if (items.isEmpty()) {
        QMetaObject::invokeMethod(this, &BatchController::fill, Qt::QueuedConnection);
        return;
    }
    m_estimating = true;
    whenReady(
        this,
        QtConcurrent::run([items, estimator = m_memory->needEstimator()] {
            QList<QPair<QUuid, qint64>> needs;
            needs.reserve(items.size());
            for (const Item &item : items)
                needs.append({item.id, estimator(item.path, item.mode, item.size)});
            return needs;
        }),
        [this](const QList<QPair<QUuid, qint64>> &needs) {
            m_estimating = false;
            for (const auto &[id, need] : needs)
                m_needs.insert(id, need);
            fill();
        });
}

void BatchController::launch(const TaskItem &task, qint64 need)
{
    // Settings as they stand now: a change during a batch reaches the jobs that start after it.
    // The tools found by the batch's search stand in for the custom paths they were found for.
    AppSettings settings = m_jobSettings;
    if (settings.customCjxlPath == m_batch->customCjxl && m_batch->cjxl)
        settings.customCjxlPath = *m_batch->cjxl;
    if (settings.customDjxlPath == m_batch->customDjxl && m_batch->djxl)
        settings.customDjxlPath = *m_batch->djxl;

    auto *job = new FileJob(task, settings, this);
    job->setOutputFolder(m_outputFolder);
    job->setGated(true);
    Running running;
    running.job = job;
    running.serial = m_batch->serial;
    running.need = need;
    running.size = std::max<qint64>(0, task.originalSize);
    running.source = TaskList::standardizedPath(task.sourceURL);
    m_heldSources.insert(running.source);
    m_running.insert(task.id, running);
    m_needs.remove(task.id);
    m_batch->sizes.remove(task.id);

    TaskList *tasks = list(task.mode);
    connect(job, &FileJob::updated, this, [tasks](const TaskItem &update) {
        tasks->replace(update); // nothing when the job was removed meanwhile
    });
    const QUuid id = task.id;
    connect(job, &FileJob::toolsDone, this, [this, id] {
        const auto it = m_running.find(id);
        if (it == m_running.end())
            return;
        it->toolsDone = true;
        fill();
    });
    connect(job, &FileJob::finished, this, [this, id](const TaskItem &final) { onJobFinished(id, final); });
    m_awaitingTool.append(id);
    job->start();
    grantTools();
}

void BatchController::onJobFinished(const QUuid &id, const TaskItem &task)
{
    if (!m_running.contains(id))
        return;
    const Running running = m_running.take(id);
    if (!running.hasTool)
        m_awaitingTool.removeOne(id);
    running.job->deleteLater();
    m_heldSources.remove(running.source);
    const bool ofRunningBatch = m_batch && running.serial == m_batch->serial;
    if (running.stopping && --m_stopping == 0)
        Q_EMIT stateChanged();
    if (ofRunningBatch) {
        m_batch->progress.jobEnded(task, running.size, m_clock());
        Q_EMIT progressChanged();
    }
    Q_EMIT jobFinished(task, ofRunningBatch);
    fill();
}

void BatchController::markStopping(Running &running)
{
    if (running.stopping)
        return;
    running.stopping = true;
    ++m_stopping;
    running.job->cancel();
}

std::optional<BatchController::Running> BatchController::dropUnstarted(const QUuid &id)
{
    const auto it = m_running.find(id);
    // Past its preparation it may be taking over a former run's output: that ends as usual.
    if (it == m_running.end() || it->hasTool || it->job->isFinished() || !it->job->isBeforeTools())
        return std::nullopt;
    const Running running = *it;
    m_running.erase(it);
    m_awaitingTool.removeOne(id);
    m_heldSources.remove(running.source);
    // A preparation still under way ends on its own and removes what it made.
    FileJob *job = running.job;
    job->disconnect(this);
    job->setParent(nullptr);
    connect(job, &FileJob::finished, job, &QObject::deleteLater);
    ++m_leaving;
    connect(job, &FileJob::finished, this, [this] { --m_leaving; });
    job->cancel();
    return running;
}

void BatchController::cancelJob(const QUuid &id)
{
    if (m_batch)
        m_batch->stopped.insert(id);
    if (const std::optional<Running> dropped = dropUnstarted(id)) {
        if (m_batch && dropped->serial == m_batch->serial) {
            m_batch->progress.remove(dropped->size); // it no longer belongs to the batch's work
            Q_EMIT progressChanged();
        }
        fill();
        return;
    }
    const auto it = m_running.find(id);
    if (it == m_running.end())
        return;
    const bool wasStopping = isStopping();
    markStopping(*it);
    if (!wasStopping)
        Q_EMIT stateChanged();
}

void BatchController::cancel()
{
    if (!m_batch)
        return;
    const quint64 serial = m_batch->serial;
    m_batch.reset();
    m_memory->stopRetrying();
    m_needs.clear();
    for (const QUuid &id : m_running.keys()) {
        if (m_running.value(id).serial == serial && !dropUnstarted(id))
            markStopping(m_running[id]);
    }
    Q_EMIT stateChanged();
    Q_EMIT progressChanged();
}

void BatchController::drainIfDone()
{
    if (!m_batch || m_batch->preparing || m_batch->next < m_batch->queue.size())
        return;
    for (const Running &running : std::as_const(m_running)) {
        if (running.serial == m_batch->serial)
            return;
    }
    // Jobs added (or put back) while the batch ran get a follow-up; one pending job is enough,
    // and the follow-up takes every waiting one, so jobs that failed here are tried once more.
    const ConversionMode mode = m_batch->mode;
    const QList<TaskItem> waiting = waitingJobs(mode);
    const bool followUp = std::any_of(waiting.cbegin(), waiting.cend(),
                                      [](const TaskItem &task) { return task.status == TaskStatus::pending; });
    if (followUp) {
        prepare(waiting);
        Q_EMIT stateChanged();
        return;
    }
    m_batch.reset();
    m_needs.clear();
    Q_EMIT stateChanged();
    Q_EMIT progressChanged();
    Q_EMIT finished(mode);
}
