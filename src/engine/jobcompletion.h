#pragma once

#include "outputfiles.h"
#include "model/taskitem.h"
#include "sourcedisposal.h"

#include <QFuture>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// The file steps that end a job, on worker threads: hashing its source, placing its output,
// disposing of its source. Each returns a future for the job to receive with whenReady.
namespace JobCompletion {

using SourceProof = std::optional<SourceDisposal::Proof>;

// The source's digest and what the file was when it was read.
QFuture<SourceProof> hashSource(const QString &source, const std::shared_ptr<std::atomic_bool> &cancelled);

std::optional<QString> digestOf(const SourceProof &proof);

// A JXL no smaller than its JPEG would make the library bigger, whatever becomes of the JPEG.
bool savesNothing(const QString &jxl, const QString &jpeg);

QString lacksReconstructionText();

struct Placing
{
    QString source;
    QString temporary;
    QString wanted;
    std::shared_ptr<std::atomic_bool> cancelled;
    QFuture<SourceProof> sourceProof; // waited for where it is not in yet
    bool storesDigest = false;        // a compression: the source's digest goes with the output
    bool checksSource = false;        // a kept source: checked before its output is placed
    bool inspects = false;            // a compressed output nothing has looked into yet
    bool needsDigest = false;         // the output's own digest, for the check before the source goes
    std::optional<QString> knownDigest;
};

struct Placed
{
    OutputFiles::PlacementResult placement;
    std::optional<QString> outputDigest;
    bool sourceChanged = false; // nothing placed: the source is no longer what was proven
    bool notSmaller = false;    // nothing placed: the JXL would not have been smaller
};

// Flushes the temporary output and moves it into place, on a pool of its own: it waits on the
// disk, not on a processor, and must not hold up the next jobs' preparation.
QFuture<Placed> place(const Placing &placing);

struct Disposing
{
    QString source;
    DeleteStrategy strategy = DeleteStrategy::keepOriginal;
    QString placedPath;
    qint64 placedSize = 0;
    std::optional<QString> outputDigest;
    QFuture<SourceProof> sourceProof;
    bool takenOver = false; // the output was not written by this job: flushed first, never removed
    bool unproven = false;  // a restore whose JXL stored no digest: nothing proves its result
};

struct Disposed
{
    std::optional<JXLError> error; // the placed output is not what was placed: nothing disposed of
    SourceDisposal::Result source;
    bool outputRemoved = false; // the source changed, and this job's output of it went
};

QFuture<Disposed> dispose(const Disposing &disposing);
// What a disposal's result says in the job's record: completed, or failed with the reason.
void record(TaskItem &task, const Disposed &disposal);

} // namespace JobCompletion
