#pragma once

#include "jobcompletion.h"
#include "jobpreparation.h"
#include "jxlerror.h"
#include "model/appsettings.h"
#include "model/taskitem.h"

#include <QElapsedTimer>
#include <QFuture>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

class ToolRun;
class Verification;

// One file's conversion, in either direction, run asynchronously on the thread that owns it.
//
// The output is written to a hidden temporary file beside its final name, verified where the
// source is to be disposed of, flushed to disk and moved into place without replacing another
// file; only then, and after the placed file has been read back, is the source kept, trashed
// or deleted, and only while it is still the file whose bytes were proven. A compressed output
// carries the source JPEG's SHA-256, which proves a later restore. A failed job leaves no
// output and an untouched source; a cancelled one comes back pending; a source that could not
// be disposed of leaves a warning on the completed job; a source that changed while the job
// ran fails it and stays as it now is. A source that is no JPEG by its first bytes is refused
// before any tool runs, and an output without JPEG reconstruction data is never placed:
// neither could give back the original. A JXL no smaller than its JPEG is not kept.
class FileJob final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileJob)

public:
    FileJob(const TaskItem &task, const AppSettings &settings, QObject *parent = nullptr);
    ~FileJob() override;

    // Outputs go below this folder, mirroring the tree below each job's import root, instead
    // of beside their sources. Empty (the default): beside the sources. Before start().
    void setOutputFolder(const QString &folder) { m_outputFolder = folder; }

    // Holds the job before its first tool until allowTool(): its preparation (reading the
    // source, making the temporary) then runs while other jobs' tools still run, and it stays
    // pending to the eye until allowed. Before start().
    void setGated(bool gated) { m_gated = gated; }
    // Lets a gated job run its tools, now or once it is prepared.
    void allowTool();

    void start();
    // Stops the job unless its output is already in place, in which case it completes.
    void cancel();

    const TaskItem &task() const { return m_task; }
    bool isFinished() const { return m_finished; }
    // It is being prepared or waits at the gate: nothing of it has been shown, run or changed.
    bool isBeforeTools() const { return m_preparing || bool(m_heldTool); }

    // Text of the error restore jobs fail with when a JXL cannot give back the original JPEG.
    static QString reconstructableJXLText();

Q_SIGNALS:
    // Every change of the record, the last one included.
    void updated(const TaskItem &task);
    // No tool runs for this job any more: what is left (placing the output, disposing of the
    // source) only reads and writes files. At most once, and never after finished().
    void toolsDone();
    // The final record: completed, failed, or pending after a cancel.
    void finished(const TaskItem &task);

private:
    bool compressing() const { return m_task.mode == ConversionMode::jpegToJXL; }
    void prepared(const JobPreparation::Result &preparation);
    void considerExisting(const std::optional<QString> &sourceDigest);
    void startProof(const QString &sourceDigest);
    void takeExisting(bool verified);
    // The JXL would be no smaller than its JPEG: none is kept, the JPEG stays.
    void skipNotSmaller();
    // Runs step, the job's first tool, once the gate lets it.
    void whenAllowed(std::function<void()> step);
    void runTool();
    void startTool();
    void endTools();
    void onToolFinished();
    void verifyCompressed(const std::optional<QString> &sourceDigest);
    void checkRestored();
    void onVerificationFinished();
    void commit();
    void dispose(const QString &placedPath, qint64 placedSize);
    void concludeDisposal(const JobCompletion::Disposed &disposal);
    // The temporary output goes, when there is one.
    void removeTemporary();
    void fail(const JXLError &error);
    void failChanged(const QString &text);
    void endCancelled();
    void conclude();
    void publish();

    const TaskItem m_original;
    const AppSettings m_settings;
    TaskItem m_task;
    QString m_source;
    QString m_wanted;
    QString m_temporary;
    ToolRun *m_run = nullptr;
    Verification *m_verification = nullptr;
    QElapsedTimer m_clock;
    QString m_outputFolder;
    Verification *m_proof = nullptr; // of an output a former run left
    QList<JobPreparation::Existing> m_candidates;
    std::optional<JobPreparation::Existing> m_existing; // the one taken
    // The source's digest and what it was when read, hashed while the tool runs: a compression
    // stores it with its output; both directions compare it before the source goes.
    QFuture<JobCompletion::SourceProof> m_sourceProof;
    std::optional<QString> m_storedDigest;          // restore: what the JXL says its JPEG was
    std::optional<QString> m_outputDigest;          // of the temporary output, once known
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
    bool m_preparing = false; // from start() until the preparation is in
    bool m_gated = false;
    bool m_allowed = false;
    std::function<void()> m_heldTool; // a gated job's first tool, until allowed
    bool m_inspected = false; // the new JXL is known to carry JPEG reconstruction data
    // The output in place was not written by this job (a former run's, or an identical copy):
    // it is flushed before the source goes, and never removed.
    bool m_takenOver = false;
    bool m_committing = false;
    bool m_toolsDone = false;
    bool m_finished = false;
};
