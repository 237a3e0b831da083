#pragma once

#include "batchprogress.h"
#include "engine/diskspaceguard.h"
#include "model/appsettings.h"
#include "model/taskitem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUuid>

#include <functional>
#include <optional>

struct BatchPreparation;
class FileJob;
class MemoryAdmission;
class TaskList;

// Runs the waiting jobs of one list through the single-file pipeline, several at a time.
//
// It owns the queue, the running jobs (and so which tasks and files are held) and the window.
// A batch starts with a disk check and a tool search on the thread pool; jobs then start in
// queue order while fewer than the window run, counting jobs of cancelled batches whose tools
// have not exited yet, and only when the job's estimated memory fits what the machine and the
// process's memory group have left (MemoryAdmission). One job per place in the
// window is started ahead and prepared, then held before its first tool until a place frees.
// When the queue is used up, jobs that became pending meanwhile run as a follow-up of the same
// batch. Jobs are looked up by id in the live list, so editing the list during a batch never
// leads to a wrong job.
// Everything it does is reported through signals.
class BatchController final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchController)

public:
    // Milliseconds on a steady clock; the remaining-time estimate and the age of a memory
    // reading are measured on it.
    using Clock = std::function<qint64()>;

    // Jobs a batch keeps alive per place in its window: one running its tools, one prepared
    // ahead, one placing its output and disposing of its source. Each may hold an output, so
    // this also bounds the outputs that exist at once.
    static constexpr int jobsAlivePerPlace = 3;

    BatchController(TaskList *compressTasks, TaskList *restoreTasks, QObject *parent = nullptr);
    ~BatchController() override;

    bool isRunning() const { return m_batch && m_batch->begun; }
    // The disk check and tool search of a start (or of a follow-up) are under way.
    bool isPreparing() const { return m_batch && m_batch->preparing; }
    bool isStopping() const { return m_stopping > 0; }
    std::optional<ConversionMode> direction() const;
    // The running batch's progress (BatchProgress); nothing done of nothing while none runs.
    int doneCount() const { return isRunning() ? m_batch->progress.done() : 0; }
    int skippedCount() const { return isRunning() ? m_batch->progress.skipped() : 0; }
    int notSmallerCount() const { return isRunning() ? m_batch->progress.notSmaller() : 0; }
    int totalCount() const { return isRunning() ? m_batch->progress.total() : 0; }
    qint64 bytesDone() const { return isRunning() ? m_batch->progress.bytesDone() : 0; }
    qint64 bytesTotal() const { return isRunning() ? m_batch->progress.bytesTotal() : 0; }
    std::optional<qint64> remainingSeconds() const;
    // Jobs running, or let go before their tools and still finishing their preparation.
    qsizetype runningJobCount() const { return m_running.size() + m_leaving; }
    bool isHeld(const QUuid &id) const { return m_running.contains(id); }
    // A running job (of any batch) reads or writes this file (a standardized source path).
    bool holdsSource(const QString &standardizedPath) const { return m_heldSources.contains(standardizedPath); }
    // Stops one running job; it comes back pending and is not run again by this batch.
    void cancelJob(const QUuid &id);

    // The settings jobs start with from now on.
    void setJobSettings(const AppSettings &settings) { m_jobSettings = settings; }
    // What a start does when the output folder is not there: make it, or refuse the batch
    // (outputFolderMissing). A folder the user chose once and that is gone now is most likely
    // on a disk that is not mounted: made anew, it would fill the disk underneath unseen. Such
    // a folder is also refused when it now lies on another volume than the one it was chosen
    // on (outputFolderElsewhere): the disk's empty mount point is no place for the outputs.
    enum class MissingFolder { make, refuse };
    // Where jobs that start from now on write their outputs, mirroring the tree below each
    // job's import root; empty: beside the sources. volume: the folder's VolumeIdentity when
    // it was chosen, for a folder to refuse; empty when not known yet, and then the next start
    // finds it (outputVolumeFound).
    void setOutputFolder(const QString &folder, MissingFolder missing = MissingFolder::make,
                         const QString &volume = QString())
    {
        m_outputFolder = folder;
        m_missingFolder = missing;
        m_outputVolume = volume;
    }
    const QString &outputFolder() const { return m_outputFolder; }
    // Where the tools are looked for after a custom path (worked out on the GUI thread).
    void setToolSearchFolders(const QStringList &folders) { m_searchFolders = folders; }
    // Decides whether memory lets the next job start; its probes and estimator can be replaced.
    MemoryAdmission *memory() const { return m_memory; }
    void setClock(Clock clock);

    // Starts a batch on the waiting (pending or failed) jobs of one list, at most windowLimit at
    // once. False, with nothing started, while another batch runs or is being prepared, or when
    // no job waits. The checks come back later: started() or refused().
    bool start(ConversionMode mode, int windowLimit);
    // Ends the running batch: queued jobs never start, running ones are stopped and come back
    // pending once their tools have exited. No finished() follows.
    void cancel();

Q_SIGNALS:
    void stateChanged();    // running / preparing / stopping / direction changed
    void progressChanged(); // done / total / bytes / estimate changed
    // The checks of a start passed; jobs start now.
    void started(ConversionMode mode);
    // The disks cannot take the outputs: nothing started. After a follow-up's refusal the batch
    // ends and finished() follows.
    void refused(ConversionMode mode, const DiskSpaceGuard::CapacityCheck &check);
    // The output folder, to be used as it is, is not there (or is no folder): nothing started.
    // After a follow-up's refusal the batch ends and finished() follows.
    void outputFolderMissing(ConversionMode mode, const QString &folder);
    // The output folder, to be used as it is, lies on another volume than the one it was
    // chosen on (its disk is not mounted, the mount point left behind): nothing started. After
    // a follow-up's refusal the batch ends and finished() follows.
    void outputFolderElsewhere(ConversionMode mode, const QString &folder);
    // A start found the volume of an output folder to refuse that came without one.
    void outputVolumeFound(const QString &folder, const QString &volume);
    // A job has ended: completed, failed, skipped, or pending again after a cancel. A job let go
    // before its tools ends unreported. ofRunningBatch is false for jobs of a batch that was
    // cancelled.
    void jobFinished(const TaskItem &task, bool ofRunningBatch);
    // The running batch's last job ended and nothing was left to follow up.
    void finished(ConversionMode mode);

private:
    struct Batch
    {
        quint64 serial = 0;
        ConversionMode mode = ConversionMode::jpegToJXL;
        int window = 1;
        QList<QUuid> queue;
        qsizetype next = 0;
        QHash<QUuid, qint64> sizes; // queued jobs' source sizes, for the byte progress
        QSet<QUuid> stopped;        // stopped one by one: never run again by this batch
        bool begun = false;
        bool preparing = true;
        BatchProgress progress; // on m_clock's time
        // Tools found for the custom paths of the time; jobs use them while those paths stay.
        QString customCjxl;
        QString customDjxl;
        std::optional<QString> cjxl;
        std::optional<QString> djxl;
    };
    struct Running
    {
        FileJob *job = nullptr;
        quint64 serial = 0;
        qint64 need = 0;
        qint64 size = 0;
        QString source;
        bool stopping = false;
        // It holds one of the window's places for its tools (else it prepares, or waits for one).
        bool hasTool = false;
        // Its tools have exited for good; it only places its output now.
        bool toolsDone = false;
    };

    TaskList *list(ConversionMode mode) const;
    QList<TaskItem> waitingJobs(ConversionMode mode) const;
    void prepare(const QList<TaskItem> &waiting);
    void onPrepared(const BatchPreparation &preparation);
    void fill();
    // What the jobs whose tools may still run were estimated to need together.
    qint64 reservedMemory() const;
    // Jobs that hold a place for their tools: what the window and the memory check count.
    qsizetype toolJobCount() const;
    // Jobs whose tools may still run, whether they hold a place or wait for one.
    qsizetype unfinishedToolJobCount() const;
    // Gives free places in the window to the jobs waiting for one, oldest first.
    void grantTools();
    void requestEstimates();
    void launch(const TaskItem &task, qint64 need);
    void onJobFinished(const QUuid &id, const TaskItem &task);
    void markStopping(Running &running);
    // Takes out a job that has no place for its tools yet and is still being prepared or waits
    // for one, and so has shown, run and changed nothing; nothing for any other job.
    std::optional<Running> dropUnstarted(const QUuid &id);
    void drainIfDone();
    void dropQueued(const QUuid &id);

    TaskList *m_compressTasks;
    TaskList *m_restoreTasks;
    AppSettings m_jobSettings;
    QString m_outputFolder;
    MissingFolder m_missingFolder = MissingFolder::make;
    QString m_outputVolume;
    QStringList m_searchFolders;
    Clock m_clock;
    MemoryAdmission *m_memory;

    std::optional<Batch> m_batch; // the batch that holds the state; a cancelled one is gone
    quint64 m_serial = 0;
    QHash<QUuid, Running> m_running;
    QList<QUuid> m_awaitingTool; // started jobs without a place for their tools, oldest first
    QSet<QString> m_heldSources;
    int m_stopping = 0; // running jobs stopped by a cancel of either kind
    int m_leaving = 0;  // jobs let go before their tools that have not ended yet
    QHash<QUuid, qint64> m_needs;
    bool m_estimating = false;
};
