#include "appstate.h"

#include "batchcontroller.h"
#include "corelog.h"
#include "dockprogressmanager.h"
#include "engine/jxlengine.h"
#include "integration/quickactioninstaller.h"
#include "model/formattedbytes.h"
#include "notificationmanager.h"
#include "platform/preferences.h"
#include "platform/sleepinhibitor.h"
#include "platform/soundplayer.h"
#include "tasklist.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QLockFile>
#include <QtConcurrent>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// Frees a large value on the pool: freeing the 100,000 jobs of a big import held the GUI thread
// for a tenth of a second.
template <typename T>
void releaseOffThread(T value)
{
    auto holder = std::make_shared<T>(std::move(value));
    QThreadPool::globalInstance()->start([holder = std::move(holder)]() mutable { holder.reset(); });
}

const QString kActivityReason = QStringLiteral("Pikora正在批量处理照片");

// Waits this long for another process adding to the lifetime counters.
constexpr int kCounterLockWaitMs = 5000;

int compareBy(TaskSortKey key, const TaskItem &a, const TaskItem &b)
{
    const auto order = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
    switch (key) {
    case TaskSortKey::fileName:
        return a.fileName().localeAwareCompare(b.fileName());
    case TaskSortKey::originalSize:
        return order(a.originalSize, b.originalSize);
    case TaskSortKey::compressedSizeOrZero:
        return order(a.compressedSizeOrZero(), b.compressedSizeOrZero());
    case TaskSortKey::savingsRatio:
        return order(a.savingsRatio(), b.savingsRatio());
    case TaskSortKey::status:
        return order(sortRank(a.status), sortRank(b.status));
    }
    return 0;
}

} // namespace

// What an import's worker hands back: the scan, and the candidates of the import's direction
// with their standardized paths and sizes, and what it could not take, all read off the GUI
// thread.
struct AppState::ScanOutcome
{
    ScanResult result;
    // The jobs the scan proposes, made on the worker, one per standardized path.
    QList<TaskItem> tasks;
    QStringList standardized; // by job
    FileScanner::ImportProblems problems;
    // How far the merge on the GUI thread has come, and how many jobs it added.
    qsizetype merged = 0;
    int added = 0;
};

const QString AppState::settingsKey = QStringLiteral("com.lumevo.appsettings");
const QString AppState::lifetimeBytesKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");
const QString AppState::lifetimeCountKey = QStringLiteral("com.lumevo.lifetimeProcessedCount");

QString AppState::notInstalledText()
{
    return QCoreApplication::translate("AppState", "未安装 (通过 APT: sudo apt install libjxl-tools)");
}

AppState::Feedback AppState::desktopFeedback()
{
    Feedback feedback;
    feedback.notifications = &NotificationManager::shared();
    feedback.dock = &DockProgressManager::shared();
    feedback.sound = &SoundPlayer::defaultPlayer();
    feedback.haptics = &HapticPerformer::defaultPerformer();
    feedback.requestNotificationPermission = true;
    return feedback;
}

AppState::AppState(const Feedback &feedback, QObject *parent)
    : QObject(parent)
    , m_feedback(feedback)
    , m_preferences(std::make_unique<Preferences>())
    , m_sleepInhibitor(std::make_unique<SleepInhibitor>())
    , m_compressTasks(new TaskList(ConversionMode::jpegToJXL, this))
    , m_restoreTasks(new TaskList(ConversionMode::jxlToJPEG, this))
    , m_toolSearchFolders(JXLEngine::builtInSearchFolders())
    , m_batch(new BatchController(m_compressTasks, m_restoreTasks, this))
{
    m_batch->setToolSearchFolders(m_toolSearchFolders);
    connect(m_batch, &BatchController::stateChanged, this, &AppState::onBatchStateChanged);
    connect(m_batch, &BatchController::started, this, &AppState::onBatchStarted);
    connect(m_batch, &BatchController::refused, this,
            [this](ConversionMode, const DiskSpaceGuard::CapacityCheck &check) { onBatchRefused(check); });
    connect(m_batch, &BatchController::jobFinished, this, &AppState::onJobFinished);
    connect(m_batch, &BatchController::finished, this, &AppState::finishBatch);

    const QByteArray stored = m_preferences->data(settingsKey);
    if (!stored.isEmpty()) {
        if (const std::optional<AppSettings> decoded = decodeSettings(stored)) {
            m_settings = *decoded;
            saveSettings(); // the stored form becomes the record's own encoding
        }
    }
    m_lifetimeSavedBytes = m_preferences->int64(lifetimeBytesKey).value_or(0);
    m_lifetimeProcessedCount = m_preferences->integer(lifetimeCountKey);
    m_batch->setJobSettings(jobSettings());
    checkEnvironment();
    m_isQuickActionInstalled = QuickActionInstaller::isInstalled();
    if (m_feedback.notifications && m_feedback.requestNotificationPermission)
        m_feedback.notifications->requestAuthorization();
}

AppState::~AppState() = default;

TaskList *AppState::tasks(ConversionMode mode) const
{
    return mode == ConversionMode::jpegToJXL ? m_compressTasks : m_restoreTasks;
}

void AppState::setSettings(const AppSettings &settings)
{
    const bool changed = !(settings == m_settings);
    const bool toolsMoved = settings.customCjxlPath != m_settings.customCjxlPath
        || settings.customDjxlPath != m_settings.customDjxlPath;
    m_settings = settings;
    saveSettings();
    m_batch->setJobSettings(jobSettings());
    if (toolsMoved)
        checkEnvironment();
    if (changed)
        Q_EMIT settingsChanged();
}

void AppState::setRunOverrides(const RunOverrides &overrides)
{
    m_overrides = overrides;
    m_batch->setJobSettings(jobSettings());
}

qsizetype AppState::runningJobCount() const
{
    return m_batch->runningJobCount();
}

void AppState::saveSettings()
{
    m_preferences->setData(settingsKey, encodeSettings(m_settings));
}

void AppState::setShowStatsSheet(bool show)
{
    if (show == m_showStatsSheet)
        return;
    m_showStatsSheet = show;
    Q_EMIT showStatsSheetChanged();
}

void AppState::clearDiskWarning()
{
    if (!m_diskWarningMessage)
        return;
    m_diskWarningMessage.reset();
    Q_EMIT diskWarningMessageChanged();
}

void AppState::clearImportProblems()
{
    if (m_importProblems.isEmpty())
        return;
    m_importProblems.clear();
    Q_EMIT importProblemsChanged();
}

void AppState::setSortOrder(const QList<TaskSortDescriptor> &order)
{
    if (order == m_sortOrder)
        return;
    m_sortOrder = order;
    Q_EMIT sortOrderChanged();
}

void AppState::setPreviewItemURL(const std::optional<QUrl> &url)
{
    if (url == m_previewItemURL)
        return;
    m_previewItemURL = url;
    Q_EMIT previewItemURLChanged();
}

QList<TaskItem> AppState::sortedCurrentTasks() const
{
    // Sorts row numbers, not jobs, and works each file name out of its URL once rather than
    // twice per comparison: by name, 100,000 jobs took half a second, most of it in QUrl.
    const QList<TaskItem> &items = currentTasks()->items();
    const bool byName = std::any_of(m_sortOrder.cbegin(), m_sortOrder.cend(),
                                    [](const TaskSortDescriptor &d) { return d.key == TaskSortKey::fileName; });
    QStringList names;
    if (byName) {
        names.reserve(items.size());
        for (const TaskItem &task : items)
            names.append(task.fileName());
    }
    std::vector<qsizetype> rows(static_cast<size_t>(items.size()));
    std::iota(rows.begin(), rows.end(), qsizetype(0));
    std::stable_sort(rows.begin(), rows.end(), [&](qsizetype a, qsizetype b) {
        for (const TaskSortDescriptor &d : m_sortOrder) {
            const int c = d.key == TaskSortKey::fileName ? names.at(a).localeAwareCompare(names.at(b))
                                                         : compareBy(d.key, items.at(a), items.at(b));
            if (c != 0)
                return d.ascending ? c < 0 : c > 0;
        }
        return false;
    });
    QList<TaskItem> sorted;
    sorted.reserve(items.size());
    for (const qsizetype row : rows)
        sorted.append(items.at(row));
    return sorted;
}

int AppState::failedCount() const
{
    return currentTasks()->count(TaskStatus::failed);
}

bool AppState::isToolReady() const
{
    return m_activeMode == ConversionMode::jpegToJXL ? m_isCjxlReady : m_isDjxlReady;
}

int AppState::batchWindowLimit() const
{
    return std::max(1, m_overrides.jobs.value_or(m_settings.effectiveConcurrency()));
}

void AppState::checkEnvironment()
{
    const QString customCjxl = m_overrides.customCjxlPath.value_or(m_settings.customCjxlPath);
    const QString customDjxl = m_overrides.customDjxlPath.value_or(m_settings.customDjxlPath);
    const quint64 probe = ++m_toolProbe;
    QtConcurrent::run([customCjxl, customDjxl, folders = m_toolSearchFolders] {
        JXLEngine::ToolPaths paths;
        paths.cjxl = JXLEngine::resolveToolPath(QStringLiteral("cjxl"), customCjxl, folders);
        paths.djxl = JXLEngine::resolveToolPath(QStringLiteral("djxl"), customDjxl, folders);
        return paths;
    }).then(this, [this, probe](const JXLEngine::ToolPaths &paths) {
            // Queued again: see importURLs().
            QMetaObject::invokeMethod(
                this,
                [this, probe, paths] {
                    if (probe != m_toolProbe)
                        return; // a newer probe (other custom paths, perhaps) has the last word
                    m_isCjxlReady = paths.cjxl.has_value();
                    m_isDjxlReady = paths.djxl.has_value();
                    m_cjxlPath = paths.cjxl.value_or(notInstalledText());
                    m_djxlPath = paths.djxl.value_or(notInstalledText());
                    Q_EMIT toolStatusChanged();
                },
                Qt::QueuedConnection);
        });
}

void AppState::openSettings()
{
    triggerHaptic(HapticPattern::alignment);
    // Without an installed action there is nothing to open; the menu command that would be the
    // fallback calls back here, so it is not tried (it would never end).
    if (m_openSettingsAction)
        m_openSettingsAction();
}

void AppState::triggerHaptic(HapticPattern pattern)
{
    if (m_settings.hapticFeedbackEnabled && m_feedback.haptics)
        m_feedback.haptics->perform(pattern);
}

void AppState::playSuccessFeedback()
{
    if (m_settings.soundFeedbackEnabled && m_feedback.sound)
        m_feedback.sound->playSuccess();
}

bool AppState::installQuickAction(QString *error)
{
    if (!QuickActionInstaller::install(error))
        return false;
    if (!m_isQuickActionInstalled) {
        m_isQuickActionInstalled = true;
        Q_EMIT isQuickActionInstalledChanged();
    }
    return true;
}

bool AppState::uninstallQuickAction(QString *error)
{
    if (!QuickActionInstaller::uninstall(error))
        return false;
    if (m_isQuickActionInstalled) {
        m_isQuickActionInstalled = false;
        Q_EMIT isQuickActionInstalledChanged();
    }
    return true;
}

void AppState::checkQuickActionStatus()
{
    const bool installed = QuickActionInstaller::isInstalled();
    if (installed == m_isQuickActionInstalled)
        return;
    m_isQuickActionInstalled = installed;
    Q_EMIT isQuickActionInstalledChanged();
}

// ---- import and list editing

void AppState::importURLs(const QList<QUrl> &urls)
{
    ++m_scansRunning;
    if (m_scansRunning == 1)
        Q_EMIT isScanningChanged();
    const ConversionMode direction = m_activeMode;
    QtConcurrent::run([urls, direction] {
        auto outcome = std::make_shared<ScanOutcome>();
        outcome->result = FileScanner::scan(urls);
        const ScanResult &result = outcome->result;
        const bool jpegs = direction == ConversionMode::jpegToJXL;
        const QList<QUrl> &candidates = jpegs ? result.jpegFiles : result.jxlFiles;
        // The walk already read every size; asking the disk again doubled an import's cost.
        const QList<qint64> &sizes = jpegs ? result.jpegSizes : result.jxlSizes;
        const QStringList &roots = jpegs ? result.jpegRoots : result.jxlRoots;
        outcome->problems = FileScanner::importProblems(result, direction);
        // Identity by standardized path: two spellings of one file in one drop make one job.
        QSet<QString> seen;
        outcome->tasks.reserve(candidates.size() + outcome->problems.failedTasks.size());
        const auto propose = [&](const TaskItem &task) {
            const QString path = TaskList::standardizedPath(task.sourceURL);
            if (seen.contains(path))
                return;
            seen.insert(path);
            outcome->standardized.append(path);
            outcome->tasks.append(task);
        };
        for (qsizetype i = 0; i < candidates.size(); ++i) {
            TaskItem task;
            task.sourceURL = candidates.at(i);
            task.mode = direction;
            task.originalSize = sizes.at(i);
            task.importRoot = roots.at(i);
            propose(task);
        }
        // Photos whose names are not UTF-8 show as failed jobs, once each like any other file.
        for (const TaskItem &failed : std::as_const(outcome->problems.failedTasks))
            propose(failed);
        return outcome;
    }).then(this, [this, direction](const std::shared_ptr<ScanOutcome> &outcome) {
        // A scan that ends before then() is attached has Qt run this continuation at once, inside
        // this call; the merge must still come later, from the event loop.
        QMetaObject::invokeMethod(
            this, [this, direction, outcome] { mergeScan(direction, outcome); }, Qt::QueuedConnection);
    });
}

void AppState::mergeScan(ConversionMode direction, const std::shared_ptr<ScanOutcome> &outcome)
{
    if (outcome->merged == 0) {
        releaseOffThread(std::exchange(m_currentScanResult, outcome->result));
        Q_EMIT currentScanResultChanged();
    }

    // Checked against the list as it stands now (its own path index) and against files a
    // running job still owns after its row was removed.
    TaskList *list = tasks(direction);
    QList<TaskItem> added;
    const qsizetype end = std::min(outcome->tasks.size(), outcome->merged + kMergeChunk);
    for (qsizetype i = outcome->merged; i < end; ++i) {
        const QString &path = outcome->standardized.at(i);
        if (!list->containsPath(path) && !m_batch->holdsSource(path))
            added.append(outcome->tasks.at(i));
    }
    outcome->merged = end;
    list->append(added);
    outcome->added += int(added.size());
    if (end < outcome->tasks.size()) {
        QMetaObject::invokeMethod(
            this, [this, direction, outcome] { mergeScan(direction, outcome); }, Qt::QueuedConnection);
        return;
    }

    releaseOffThread(std::make_tuple(std::exchange(outcome->tasks, {}), std::exchange(outcome->standardized, {}),
                                     std::exchange(outcome->result, {})));
    if (outcome->added > 0)
        triggerHaptic(HapticPattern::alignment);
    if (outcome->problems.messages != m_importProblems) {
        m_importProblems = outcome->problems.messages;
        Q_EMIT importProblemsChanged();
    }

    --m_scansRunning;
    if (m_scansRunning == 0)
        Q_EMIT isScanningChanged();
    Q_EMIT importFinished(outcome->added);
}

void AppState::stopRunningJobs(const QSet<QUuid> &ids)
{
    // A removed job must not go on to trash or delete an original the user no longer sees.
    for (const QUuid &id : ids) {
        if (m_batch->isHeld(id))
            m_batch->cancelJob(id);
    }
}

void AppState::removeTask(const TaskItem &task)
{
    if (m_selectedTaskIds.remove(task.id))
        Q_EMIT selectedTaskIdsChanged();
    TaskList *list = tasks(task.mode);
    if (list->find(task.id))
        stopRunningJobs({task.id});
    list->remove({task.id});
}

void AppState::removeSelectedTasks()
{
    if (m_selectedTaskIds.isEmpty())
        return;
    QSet<QUuid> ids;
    for (const QUuid &id : std::as_const(m_selectedTaskIds)) {
        if (currentTasks()->find(id))
            ids.insert(id);
    }
    stopRunningJobs(ids);
    currentTasks()->remove(ids);
    setSelectedTaskIds({});
}

void AppState::clearCurrentTasks()
{
    setSelectedTaskIds({});
    QSet<QUuid> ids;
    for (const TaskItem &task : currentTasks()->items())
        ids.insert(task.id);
    stopRunningJobs(ids);
    currentTasks()->clear();
}

void AppState::selectAllTasks()
{
    QSet<QUuid> ids;
    ids.reserve(currentTasks()->size());
    for (const TaskItem &task : currentTasks()->items())
        ids.insert(task.id);
    setSelectedTaskIds(ids);
}

void AppState::setSelectedTaskIds(const QSet<QUuid> &ids)
{
    if (ids == m_selectedTaskIds)
        return;
    m_selectedTaskIds = ids;
    Q_EMIT selectedTaskIdsChanged();
}

void AppState::switchMode(ConversionMode mode)
{
    if (mode == m_activeMode)
        return;
    triggerHaptic(HapticPattern::alignment);
    m_activeMode = mode;
    Q_EMIT activeModeChanged();
    setSelectedTaskIds({});
}

void AppState::retryFailedTasks()
{
    TaskList *list = currentTasks();
    const qsizetype count = list->size();
    for (qsizetype row = 0; row < count; ++row) {
        // A job whose source names no file stays failed: no retry can make it safe.
        if (list->at(row).status != TaskStatus::failed || !list->at(row).isRunnable())
            continue;
        TaskItem task = list->at(row);
        task.status = TaskStatus::pending;
        task.errorMessage.reset();
        list->replace(task);
    }
    startCurrentProcessing();
}

void AppState::triggerQuickLook(const std::optional<TaskItem> &task)
{
    // A job whose source names no file has nothing to preview.
    const auto preview = [this](const TaskItem &t) {
        if (t.isRunnable())
            setPreviewItemURL(t.shownURL());
    };
    if (task) {
        preview(*task);
        return;
    }
    if (m_selectedTaskIds.isEmpty())
        return;
    if (const TaskItem *selected = currentTasks()->find(*m_selectedTaskIds.constBegin()))
        preview(*selected);
}

// ---- the batch

AppSettings AppState::jobSettings() const
{
    AppSettings settings = m_settings;
    if (m_overrides.compressionEffort)
        settings.compressionEffort = *m_overrides.compressionEffort;
    if (m_overrides.deleteStrategy)
        settings.deleteStrategy = *m_overrides.deleteStrategy;
    if (m_overrides.verifyLossless)
        settings.verifyLossless = *m_overrides.verifyLossless;
    if (m_overrides.customCjxlPath)
        settings.customCjxlPath = *m_overrides.customCjxlPath;
    if (m_overrides.customDjxlPath)
        settings.customDjxlPath = *m_overrides.customDjxlPath;
    return settings;
}

void AppState::startCurrentProcessing()
{
    m_batch->start(m_activeMode, batchWindowLimit());
}

void AppState::onBatchStateChanged()
{
    const bool processing = m_batch->isRunning();
    if (processing == m_isProcessing)
        return;
    m_isProcessing = processing;
    Q_EMIT isProcessingChanged();
}

void AppState::onBatchStarted()
{
    triggerHaptic(HapticPattern::alignment);
    if (m_sleepInhibitor->state() == SleepInhibitor::State::idle)
        m_sleepInhibitor->acquire(kActivityReason);
}

void AppState::onBatchRefused(const DiskSpaceGuard::CapacityCheck &check)
{
    m_diskWarningMessage = DiskSpaceGuard::warningMessage(check);
    Q_EMIT diskWarningMessageChanged();
    triggerHaptic(HapticPattern::alignment);
}

void AppState::cancel()
{
    m_batch->cancel(); // its jobs come back pending once their tools have exited
    if (m_feedback.dock)
        m_feedback.dock->reset();
    m_sleepInhibitor->release();
}

void AppState::countCompleted(const TaskItem &task)
{
    const qint64 saved = task.savedBytes();
    if (saved < 1)
        return;
    // Another process (the command line beside the window) may have added since this one last
    // read: re-read and add under a lock, never write back an older total.
    QDir().mkpath(QFileInfo(m_preferences->fileName()).absolutePath()); // before the first setting is written
    QLockFile lock(m_preferences->fileName() + QStringLiteral(".counters.lock"));
    if (!lock.tryLock(kCounterLockWaitMs))
        qCWarning(lcCore) << "lifetime counters: lock not taken, adding without it:" << lock.error();
    m_preferences->sync();
    m_lifetimeSavedBytes = m_preferences->int64(lifetimeBytesKey).value_or(0) + saved;
    m_lifetimeProcessedCount = m_preferences->integer(lifetimeCountKey) + 1;
    m_preferences->setInt64(lifetimeBytesKey, m_lifetimeSavedBytes);
    m_preferences->setInt64(lifetimeCountKey, m_lifetimeProcessedCount);
    m_preferences->sync();
    lock.unlock();
    Q_EMIT lifetimeSavedBytesChanged();
    Q_EMIT lifetimeProcessedCountChanged();
}

void AppState::onJobFinished(const TaskItem &task, bool ofRunningBatch)
{
    // A job that got past its point of no return before a cancel still saved its bytes.
    if (task.status == TaskStatus::completed && !task.reused) // a reused output was counted when made
        countCompleted(task);
    if (ofRunningBatch) { // nothing is felt or shown for the jobs of a cancelled batch
        if (task.status == TaskStatus::completed)
            triggerHaptic(HapticPattern::generic);
        const TaskList *list = tasks(task.mode);
        if (m_feedback.dock)
            m_feedback.dock->update(list->count(TaskStatus::completed) + list->count(TaskStatus::failed),
                                    int(list->size()));
    }
    Q_EMIT jobFinished(task);
}

void AppState::finishBatch(ConversionMode mode)
{
    if (m_feedback.dock)
        m_feedback.dock->reset();
    m_sleepInhibitor->release();
    playSuccessFeedback();
    const TaskList *list = tasks(mode);
    if (m_feedback.notifications)
        m_feedback.notifications->sendCompletionNotification(mode, list->count(TaskStatus::completed),
                                                             list->savedBytes(), list->count(TaskStatus::failed));
    Q_EMIT batchFinished(mode);
}
