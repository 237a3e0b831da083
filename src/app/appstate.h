#pragma once

#include "engine/diskspaceguard.h"
#include "engine/filescanner.h"
#include "model/appsettings.h"
#include "model/taskitem.h"
#include "platform/haptics.h"

#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class BatchController;
class DockProgressManager;
class NotificationManager;
class Preferences;
class SleepInhibitor;
class SoundPlayer;
class TaskList;

// The keys a table can sort by.
enum class TaskSortKey { fileName, originalSize, compressedSizeOrZero, savingsRatio, status };

struct TaskSortDescriptor
{
    TaskSortKey key = TaskSortKey::fileName;
    bool ascending = true;
    bool operator==(const TaskSortDescriptor &other) const = default;
};

// Settings a front end applies to its own runs without storing them (the command line's options).
struct RunOverrides
{
    std::optional<int> jobs;
    std::optional<int> compressionEffort;
    std::optional<DeleteStrategy> deleteStrategy;
    std::optional<bool> verifyLossless;
    std::optional<QString> customCjxlPath;
    std::optional<QString> customDjxlPath;
};

// Everything the user sees and everything that changes while the application runs: the two
// job lists, the shown direction, the selection, scans and batches, the settings and the
// lifetime counters. One instance, on the GUI thread; every change is signalled.
class AppState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppState)

public:
    // Jobs of one import added per turn of the event loop: a long import goes in over several
    // turns, so that adding 100,000 photos never freezes the window.
    static constexpr qsizetype kMergeChunk = 5000;

    // Where the state reports to the user. The window uses all of them; the command line none.
    struct Feedback
    {
        NotificationManager *notifications = nullptr;
        DockProgressManager *dock = nullptr;
        SoundPlayer *sound = nullptr;
        HapticPerformer *haptics = nullptr;
        bool requestNotificationPermission = false;
    };
    static Feedback desktopFeedback();

    static const QString settingsKey;
    static const QString lifetimeBytesKey;
    static const QString lifetimeCountKey;
    static QString notInstalledText();

    // Starts up: loads settings and counters, probes the tools, reads the file-manager actions.
    explicit AppState(const Feedback &feedback = desktopFeedback(), QObject *parent = nullptr);
    ~AppState() override;

    // -- fields
    ConversionMode activeMode() const { return m_activeMode; }
    TaskList *compressTasks() const { return m_compressTasks; }
    TaskList *restoreTasks() const { return m_restoreTasks; }
    TaskList *tasks(ConversionMode mode) const;
    const QSet<QUuid> &selectedTaskIds() const { return m_selectedTaskIds; }
    // A batch holds the state (from the passed disk check until its end or a cancel).
    bool isProcessing() const { return m_isProcessing; }
    bool isScanning() const { return m_scansRunning > 0; }
    const std::optional<ScanResult> &currentScanResult() const { return m_currentScanResult; }
    // What the last import could not reach: missing paths, paths that cannot be looked at and
    // folders that cannot be read, one text each. (Its photos whose names are not UTF-8 are
    // failed jobs in the list instead.)
    const QStringList &importProblems() const { return m_importProblems; }
    void clearImportProblems();
    const AppSettings &settings() const { return m_settings; }
    void setSettings(const AppSettings &settings);
    qint64 lifetimeSavedBytes() const { return m_lifetimeSavedBytes; }
    qint64 lifetimeProcessedCount() const { return m_lifetimeProcessedCount; }
    bool isCjxlReady() const { return m_isCjxlReady; }
    bool isDjxlReady() const { return m_isDjxlReady; }
    QString cjxlPath() const { return m_cjxlPath; }
    QString djxlPath() const { return m_djxlPath; }
    bool showStatsSheet() const { return m_showStatsSheet; }
    void setShowStatsSheet(bool show);
    void setOpenSettingsAction(std::function<void()> action) { m_openSettingsAction = std::move(action); }
    bool isQuickActionInstalled() const { return m_isQuickActionInstalled; }
    const std::optional<QString> &diskWarningMessage() const { return m_diskWarningMessage; }
    void clearDiskWarning();
    const QList<TaskSortDescriptor> &sortOrder() const { return m_sortOrder; }
    void setSortOrder(const QList<TaskSortDescriptor> &order);
    const std::optional<QUrl> &previewItemURL() const { return m_previewItemURL; }
    void setPreviewItemURL(const std::optional<QUrl> &url);
    void setRunOverrides(const RunOverrides &overrides);

    // -- derived values
    TaskList *currentTasks() const { return tasks(m_activeMode); }
    QList<TaskItem> sortedCurrentTasks() const;
    int failedCount() const;
    bool isToolReady() const;
    // Jobs a batch keeps in flight, with the run's overrides applied.
    int batchWindowLimit() const;
    // Jobs whose tools run now, those of cancelled batches included.
    qsizetype runningJobCount() const;
    BatchController *batch() const { return m_batch; }

    // -- small operations
    void checkEnvironment();
    void openSettings();
    void triggerHaptic(HapticPattern pattern);
    void playSuccessFeedback();
    // On failure the flag keeps its value and error says why; nothing is printed.
    bool installQuickAction(QString *error = nullptr);
    bool uninstallQuickAction(QString *error = nullptr);
    void checkQuickActionStatus();

    // -- import and list editing
    void importURLs(const QList<QUrl> &urls);
    void removeTask(const TaskItem &task);
    void removeSelectedTasks();
    void clearCurrentTasks();
    void selectAllTasks();
    void setSelectedTaskIds(const QSet<QUuid> &ids);
    void switchMode(ConversionMode mode);
    void retryFailedTasks();
    void triggerQuickLook(const std::optional<TaskItem> &task);

    // -- the batch
    // Starts a batch on the shown list; its disk check runs on the thread pool, so a refusal
    // (diskWarningMessage) or the start (isProcessing) comes later.
    void startCurrentProcessing();
    void cancel();

Q_SIGNALS:
    void activeModeChanged();
    void selectedTaskIdsChanged();
    void isProcessingChanged();
    void isScanningChanged();
    void currentScanResultChanged();
    void importProblemsChanged();
    void settingsChanged();
    void lifetimeSavedBytesChanged();
    void lifetimeProcessedCountChanged();
    void toolStatusChanged();
    void showStatsSheetChanged();
    void isQuickActionInstalledChanged();
    void diskWarningMessageChanged();
    void sortOrderChanged();
    void previewItemURLChanged();
    // An import merged its scan; added is how many jobs it appended (failed ones included).
    void importFinished(int added);
    // A job of a batch ended (completed, failed, or pending again after a cancel).
    void jobFinished(const TaskItem &task);
    // A batch ended by itself (not by a cancel) and no follow-up batch took over.
    void batchFinished(ConversionMode mode);

private:
    struct ScanOutcome;
    void mergeScan(ConversionMode direction, const std::shared_ptr<ScanOutcome> &outcome);
    void saveSettings();
    AppSettings jobSettings() const;
    void onBatchStateChanged();
    void onBatchStarted();
    void onBatchRefused(const DiskSpaceGuard::CapacityCheck &check);
    void onJobFinished(const TaskItem &task, bool ofRunningBatch);
    void finishBatch(ConversionMode mode);
    void countCompleted(const TaskItem &task);
    void stopRunningJobs(const QSet<QUuid> &ids);

    Feedback m_feedback;
    std::unique_ptr<Preferences> m_preferences;
    std::unique_ptr<SleepInhibitor> m_sleepInhibitor;

    ConversionMode m_activeMode = ConversionMode::jpegToJXL;
    TaskList *m_compressTasks;
    TaskList *m_restoreTasks;
    QSet<QUuid> m_selectedTaskIds;
    bool m_isProcessing = false;
    int m_scansRunning = 0;
    std::optional<ScanResult> m_currentScanResult;
    QStringList m_importProblems;
    AppSettings m_settings;
    qint64 m_lifetimeSavedBytes = 0;
    qint64 m_lifetimeProcessedCount = 0;
    bool m_isCjxlReady = false;
    bool m_isDjxlReady = false;
    QString m_cjxlPath;
    QString m_djxlPath;
    bool m_showStatsSheet = false;
    std::function<void()> m_openSettingsAction;
    bool m_isQuickActionInstalled = false;
    std::optional<QString> m_diskWarningMessage;
    QList<TaskSortDescriptor> m_sortOrder{TaskSortDescriptor{}};
    std::optional<QUrl> m_previewItemURL;
    RunOverrides m_overrides;

    QStringList m_toolSearchFolders; // worked out once, on the GUI thread
    BatchController *m_batch;
    quint64 m_toolProbe = 0;
};
