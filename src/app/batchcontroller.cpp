#include "batchcontroller.h"

#include "corelog.h"
#include "engine/filejob.h"
#include "engine/imageheader.h"
#include "engine/toolcommands.h"
#include "engine/whenready.h"
#include "engine/outputfiles.h"
#include "platform/memoryprobe.h"
#include "platform/volumeidentity.h"
#include "tasklist.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QtConcurrent>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr qint64 kCjxlBytesPerPixel = 30;
constexpr qint64 kDjxlBytesPerPixel = 7;
// A tool's own footprint before any image data.
constexpr qint64 kToolBaseBytes = 16 * 1024 * 1024;
// Photos whose header gives no size: a JPEG or JXL photo rarely packs more than 4 pixels a byte.
constexpr qint64 kPixelsPerByteGuess = 4;
// How often a job waiting for memory looks again, besides whenever a job ends.
constexpr int kMemoryRetryMs = 250;
// How long one memory reading lets further jobs start (small photos start many a second).
constexpr qint64 kMemoryReadingReuseMs = 200;
// How far back the remaining-time estimate looks for the pace of the work.
constexpr qint64 kThroughputWindowMs = 60 * 1000;
// Estimates are read ahead of the queue in chunks, so a long queue never delays the start.
constexpr qsizetype kEstimateChunk = 64;

} // namespace

struct BatchController::Preparation
{
    QList<QUuid> checked; // the jobs the disk check counted, in list order
    DiskSpaceGuard::CapacityCheck check{true, 0, 0, {}};
    QString missingFolder; // the output folder, when it had to be there and is not
    bool elsewhere = false; // ... and is, but on another volume than it was chosen on
    QString outputFolder;
    QString foundVolume; // the output folder's volume, when it came without one
    std::optional<QString> cjxl;
    std::optional<QString> djxl;
};

qint64 BatchController::estimatedNeed(const QString &source, ConversionMode mode, qint64 sourceSize)
{
    const qint64 pixels = imagePixelCount(source).value_or(std::max<qint64>(0, sourceSize) * kPixelsPerByteGuess);
    return kToolBaseBytes + pixels * (mode == ConversionMode::jpegToJXL ? kCjxlBytesPerPixel : kDjxlBytesPerPixel);
}

BatchController::BatchController(TaskList *compressTasks, TaskList *restoreTasks, QObject *parent)
    : QObject(parent)
    , m_compressTasks(compressTasks)
    , m_restoreTasks(restoreTasks)
    , m_memoryRetry(new QTimer(this))
{
    m_memoryRetry->setSingleShot(true);
    m_memoryRetry->setInterval(kMemoryRetryMs);
    connect(m_memoryRetry, &QTimer::timeout, this, &BatchController::fill);
    setMemoryProbes([meter = std::make_shared<MemoryProbe::Meter>()] { return meter->read().available(); },
                    [] { return MemoryProbe::childrenResidentBytes(::getpid()); });
    setClock([] {
        return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    });
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

void BatchController::setMemoryProbes(AvailableMemory available, ResidentMemory resident)
{
    m_availableMemory = std::move(available);
    m_residentMemory = std::move(resident);
}

std::optional<ConversionMode> BatchController::direction() const
{
    return isRunning() ? std::optional<ConversionMode>(m_batch->mode) : std::nullopt;
}

std::optional<qint64> BatchController::remainingSeconds() const
{
    if (!isRunning() || m_batch->done < 2)
        return std::nullopt;
    const qint64 now = m_clock();
    const qint64 from = std::max(m_batch->startedAt, now - kThroughputWindowMs);
    const auto recent = std::count_if(m_batch->recentFinishes.cbegin(), m_batch->recentFinishes.cend(),
                                      [from](qint64 at) { return at > from; });
    // Jobs that take longer than the window leave too few finishes in it: then the whole batch's pace.
    const double finished = recent >= 2 ? double(recent) : double(m_batch->done);
    const double span = double(std::max<qint64>(1, recent >= 2 ? now - from : now - m_batch->startedAt)) / 1000.0;
    const double left = double(std::max(0, m_batch->total - m_batch->done));
    return qint64(std::ceil(left * span / finished));
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
    // statvfs on every output folder and the tool search can stall on a slow or hung disk.
    whenReady(
        this,
        QtConcurrent::run([waiting = QList<TaskItem>(waiting), capacity, folders = m_searchFolders,
                           cjxl = m_batch->customCjxl, djxl = m_batch->customDjxl, outputFolder = m_outputFolder,
                           mustExist = m_missingFolder == MissingFolder::refuse, volume = m_outputVolume]() mutable {
            Preparation preparation;
            preparation.outputFolder = outputFolder;
            if (mustExist && !outputFolder.isEmpty()) {
                if (!QFileInfo(outputFolder).isDir()) {
                    preparation.missingFolder = outputFolder;
                    return preparation;
                }
                // Unknown on either side (the mounts unreadable), the folder is taken as it is.
                const QString now = VolumeIdentity::of(outputFolder);
                if (!volume.isEmpty() && !now.isEmpty() && now != volume) {
                    preparation.missingFolder = outputFolder;
                    preparation.elsewhere = true;
                    return preparation;
                }
                if (volume.isEmpty())
                    preparation.foundVolume = now;
            }
            // The volume measured for a job is the one its output will be written to.
            if (!outputFolder.isEmpty()) {
                for (TaskItem &task : waiting) {
                    if (!task.destinationURL)
                        task.destinationURL = QUrl::fromLocalFile(OutputFiles::outputPath(
                            task.sourceURL.toLocalFile(), task.importRoot, outputFolder,
                            task.mode == ConversionMode::jpegToJXL ? QStringLiteral("jxl") : QStringLiteral("jpg")));
                }
            }
            preparation.checked.reserve(waiting.size());
            for (const TaskItem &task : waiting)
                preparation.checked.append(task.id);
            preparation.check = DiskSpaceGuard::validateCapacity(waiting, capacity);
            preparation.cjxl = ToolCommands::resolveToolPath(QStringLiteral("cjxl"), cjxl, folders);
            preparation.djxl = ToolCommands::resolveToolPath(QStringLiteral("djxl"), djxl, folders);
            return preparation;
        }),
        [this, serial](const Preparation &preparation) {
            if (m_batch && m_batch->serial == serial) // else cancelled meanwhile
                onPrepared(preparation);
        });
}

void BatchController::onPrepared(const Preparation &preparation)
{
    const ConversionMode mode = m_batch->mode;
    if (!preparation.foundVolume.isEmpty() && preparation.outputFolder == m_outputFolder && m_outputVolume.isEmpty()) {
        m_outputVolume = preparation.foundVolume;
        Q_EMIT outputVolumeFound(m_outputFolder, m_outputVolume);
    }
    if (!preparation.check.isSafe || !preparation.missingFolder.isEmpty()) {
        const bool followUp = m_batch->begun;
        m_batch.reset();
        m_memoryRetry->stop();
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
        m_batch->total += 1;
        m_batch->bytesTotal += std::max<qint64>(0, task->originalSize);
    }
    m_batch->preparing = false;
    const bool first = !m_batch->begun;
    if (first) {
        m_batch->begun = true;
        m_batch->startedAt = m_clock();
        Q_EMIT started(mode);
    }
    Q_EMIT stateChanged();
    Q_EMIT progressChanged();
    fill();
}

void BatchController::dropQueued(const QUuid &id)
{
    m_batch->total -= 1;
    m_batch->bytesTotal -= std::max<qint64>(0, m_batch->sizes.value(id));
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
        if (!fitsInMemory(*need)) {
            m_memoryRetry->start();
            break;
        }
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

bool BatchController::fitsInMemory(qint64 need)
{
    if (toolJobCount() == 0 || !m_availableMemory)
        return true; // one job always runs
    // A recent reading is as good for a start: the tools started since it are reserved below,
    // and those that ended since only make it cautious. A job is held back on a fresh one only.
    const qint64 now = m_clock();
    if (m_lastReading && now >= m_lastReading->takenAt && now - m_lastReading->takenAt < kMemoryReadingReuseMs
        && fitsIn(need, m_lastReading->available))
        return true;
    m_lastReading = MemoryReading{now, m_availableMemory()};
    return fitsIn(need, m_lastReading->available);
}

bool BatchController::fitsIn(qint64 need, std::optional<qint64> available) const
{
    if (!available)
        return true;
    qint64 reserved = 0;
    for (const Running &running : m_running)
        reserved += running.toolsDone ? 0 : running.need;
    if (need + reserved <= *available)
        return true;
    // Tools that have already grown count in the reading; only what they have still to take is added.
    const qint64 resident = m_residentMemory ? m_residentMemory() : 0;
    const bool fits = need + std::max<qint64>(0, reserved - resident) <= *available;
    qCDebug(lcCore) << "memory: need" << need << "reserved" << reserved << "resident" << resident << "available"
                    << *available << (fits ? "start" : "wait");
    return fits;
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
        QtConcurrent::run([items, estimator = m_estimator] {
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
        if (task.status == TaskStatus::completed || task.status == TaskStatus::failed
            || task.status == TaskStatus::skipped) {
            m_batch->done += 1;
            const bool notSmaller = task.skipReason == SkipReason::notSmaller;
            m_batch->skipped += task.status == TaskStatus::skipped && !notSmaller ? 1 : 0;
            m_batch->notSmaller += task.status == TaskStatus::skipped && notSmaller ? 1 : 0;
            m_batch->bytesDone += running.size;
            const qint64 now = m_clock();
            m_batch->recentFinishes.append(now);
            while (m_batch->recentFinishes.constFirst() <= now - kThroughputWindowMs)
                m_batch->recentFinishes.removeFirst();
        } else {
            m_batch->total -= 1; // stopped by hand: it no longer belongs to the batch's work
            m_batch->bytesTotal -= running.size;
        }
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
            m_batch->total -= 1; // it no longer belongs to the batch's work
            m_batch->bytesTotal -= dropped->size;
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
    m_memoryRetry->stop();
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
