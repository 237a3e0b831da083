#include "filejob.h"

#include "filedigest.h"
#include "jobcompletion.h"
#include "jxlcontainer.h"
#include "outputfiles.h"
#include "toolcommands.h"
#include "toolrun.h"
#include "verifier.h"
#include "whenready.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent>

#include <algorithm>

namespace {

using JobCompletion::digestOf;
using JobCompletion::SourceProof;

} // namespace

FileJob::FileJob(const TaskItem &task, const AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_original(task)
    , m_settings(settings)
    , m_task(task)
    , m_source(task.sourceURL.toLocalFile())
{
}

FileJob::~FileJob()
{
    if (!m_finished)
        m_cancelled->store(true);
    delete m_verification;
    delete m_proof;
    delete m_run;
    if (!m_finished && !m_committing && !m_temporary.isEmpty())
        QFile::remove(m_temporary);
}

QString FileJob::reconstructableJXLText()
{
    return QCoreApplication::translate("FileJob", "由 JPEG 无损转换的 JXL");
}

void FileJob::allowTool()
{
    if (m_allowed || m_finished)
        return;
    m_allowed = true;
    publish(); // processing from now on, to the eye as well
    if (m_heldTool)
        std::exchange(m_heldTool, {})();
}

void FileJob::whenAllowed(std::function<void()> step)
{
    if (!m_gated || m_allowed)
        return step();
    m_heldTool = std::move(step);
}

void FileJob::start()
{
    m_task.status = TaskStatus::processing;
    m_task.warning.reset();
    m_task.skipReason.reset();
    if (!m_gated)
        publish();
    m_clock.start();
    m_preparing = true;

    m_wanted = m_task.destinationURL
        ? m_task.destinationURL->toLocalFile()
        : OutputFiles::outputPath(m_source, m_task.importRoot, m_outputFolder,
                                  compressing() ? QStringLiteral("jxl") : QStringLiteral("jpg"));
    m_task.destinationURL = QUrl::fromLocalFile(m_wanted);
    m_temporary = OutputFiles::temporarySibling(m_wanted);

    const bool disposes = m_settings.deleteStrategy != DeleteStrategy::keepOriginal;
    JobPreparation::Request request;
    request.source = m_source;
    request.temporary = m_temporary;
    request.wanted = m_wanted;
    request.restoring = !compressing();
    request.hashExisting = request.restoring || disposes;
    request.outputFolder = m_outputFolder;
    // The folder holding the import root: the mirrored folders take their bits from below it.
    request.sourceBase = QFileInfo(m_task.importRoot.isEmpty() ? QFileInfo(m_source).absolutePath() : m_task.importRoot)
                             .absolutePath();
    // A compression stores the digest with its output; a source that goes is compared with it.
    if (compressing() || disposes)
        m_sourceProof = JobCompletion::hashSource(m_source, m_cancelled);
    // Ahead of the hashing of other jobs' sources: the tool waits for this.
    const QFuture<JobPreparation::Result> preparation =
        QtConcurrent::task([request] { return JobPreparation::prepare(request); }).withPriority(1).spawn();
    whenReady(this, preparation, [this](const JobPreparation::Result &result) {
        m_preparing = false;
        prepared(result);
    });
}

void FileJob::prepared(const JobPreparation::Result &preparation)
{
    if (m_cancelled->load())
        return endCancelled();
    if (preparation.error) {
        m_temporary.clear(); // not ours: creating it failed
        return fail(*preparation.error);
    }
    m_storedDigest = preparation.storedDigest;
    m_candidates = preparation.existing;
    if (!compressing() && !preparation.sourceUnreadable && !preparation.reconstructable)
        return fail(JXLError::invalidFormat(reconstructableJXLText()));
    if (!m_candidates.isEmpty() && !preparation.sourceUnreadable) {
        if (compressing())
            whenReady(this, m_sourceProof,
                      [this](const SourceProof &proof) { considerExisting(digestOf(proof)); });
        else
            considerExisting(m_storedDigest);
        return;
    }
    runTool(); // a missing or unreadable source is reported by the tool run, after the tool search
}

// An output a former run left is taken instead of a new one only when it is known to hold the
// source: a JXL whose stored source digest is the source's, or a JPEG whose digest is the one
// its JXL stored. A JXL at the wanted name without a stored digest is proven by restoring it;
// one whose digest names another photo is somebody else's, and the job converts to a new name
// as ever. Claimed like a placed output: one file never stands for two sources.
void FileJob::considerExisting(const std::optional<QString> &sourceDigest)
{
    if (m_cancelled->load())
        return endCancelled();
    if (!sourceDigest)
        return runTool();
    const auto taken = std::find_if(m_candidates.cbegin(), m_candidates.cend(), [&](const JobPreparation::Existing &existing) {
        const std::optional<QString> &names = compressing() ? existing.storedDigest : std::optional(existing.digest);
        return names == sourceDigest && OutputFiles::claimExisting(existing.path, m_source);
    });
    if (taken != m_candidates.cend()) {
        m_existing = *taken;
        // Trusted without a proof only when nothing is disposed of on its word and no proof of
        // every output was asked for.
        if (!compressing() || (m_settings.deleteStrategy == DeleteStrategy::keepOriginal && !m_settings.verifyLossless))
            return takeExisting(!compressing());
        return whenAllowed([this, digest = *sourceDigest] { startProof(digest); });
    }
    const JobPreparation::Existing &plain = m_candidates.constFirst();
    if (compressing() && plain.path == m_wanted && !plain.storedDigest && OutputFiles::claimExisting(plain.path, m_source)) {
        m_existing = plain;
        return whenAllowed([this, digest = *sourceDigest] { startProof(digest); });
    }
    runTool();
}

void FileJob::startProof(const QString &sourceDigest)
{
    m_task.status = TaskStatus::verifying;
    publish();
    m_proof = new Verification(m_source, m_existing->path, m_settings.customDjxlPath, this);
    m_proof->setOriginalDigest(sourceDigest);
    connect(m_proof, &Verification::finished, this, [this](Verification::Outcome outcome) {
        switch (outcome) {
        case Verification::Outcome::cancelled:
            return endCancelled();
        case Verification::Outcome::failed:
            // Neither file is touched; a fresh output goes to a new name.
            m_existing.reset();
            m_task.status = TaskStatus::processing;
            publish();
            return runTool();
        case Verification::Outcome::passed:
            return takeExisting(true);
        }
    });
    m_proof->start();
}

void FileJob::takeExisting(bool verified)
{
    removeTemporary();
    const JobPreparation::Existing &existing = *m_existing;
    // A JXL that saves nothing never stands in for its JPEG, whoever made it.
    if (compressing() && existing.size >= m_sourceProof.result()->identity.size)
        return skipNotSmaller();
    m_task.destinationURL = QUrl::fromLocalFile(existing.path);
    m_task.compressedSize = existing.size;
    m_task.isVerified = verified;
    if (m_settings.deleteStrategy == DeleteStrategy::keepOriginal) {
        m_task.status = TaskStatus::skipped;
        m_task.skipReason = SkipReason::convertedBefore;
        m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
        return conclude();
    }
    // Disposed of as after a conversion: the output is checked once more right before.
    m_task.reused = true;
    m_takenOver = true;
    m_outputDigest = existing.digest;
    dispose(existing.path, existing.size);
}

void FileJob::skipNotSmaller()
{
    endTools();
    removeTemporary();
    m_task.destinationURL.reset();
    m_task.compressedSize.reset();
    m_task.isVerified = false;
    m_task.status = TaskStatus::skipped;
    m_task.skipReason = SkipReason::notSmaller;
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    conclude();
}

void FileJob::endTools()
{
    if (m_toolsDone)
        return;
    m_toolsDone = true;
    Q_EMIT toolsDone();
}

void FileJob::runTool()
{
    whenAllowed([this] { startTool(); });
}

void FileJob::startTool()
{
    m_run = compressing()
        ? ToolRun::transcodeJPEGtoJXL(m_source, m_temporary, m_settings.compressionEffort,
                                      m_settings.customCjxlPath, this)
        : ToolRun::transcodeJXLtoJPEG(m_source, m_temporary, m_settings.customDjxlPath, this);
    connect(m_run, &ToolRun::finished, this, &FileJob::onToolFinished);
    m_run->start();
}

void FileJob::onToolFinished()
{
    switch (m_run->outcome()) {
    case ToolRun::Outcome::cancelled:
        return endCancelled();
    case ToolRun::Outcome::failed:
        if (!compressing() && m_run->error()->kind == JXLError::Kind::executionFailed && m_run->error()->headline.isEmpty())
            return fail(m_run->error()->withHeadline(tr("JXL 文件已损坏，无法还原")));
        return fail(*m_run->error());
    case ToolRun::Outcome::succeeded:
        break;
    }
    if (m_cancelled->load())
        return endCancelled();
    if (QFileInfo(m_temporary).size() <= 0) // the tool claimed success but wrote nothing
        return fail(JXLError::fileNotFound(m_wanted));
    if (!compressing()) {
        endTools(); // a restore's proof is a digest, no tool
        if (ToolCommands::djxlFellBackToPixels(m_run->standardError()))
            return fail(JXLError::invalidFormat(reconstructableJXLText()));
        return checkRestored();
    }
    // Nothing proven, nothing disposed of: the output's last checks go with its placing, and
    // no tool runs for it any more.
    if (m_settings.deleteStrategy == DeleteStrategy::keepOriginal && !m_settings.verifyLossless)
        return commit();
    const QString temporary = m_temporary;
    const QString source = m_source;
    const auto inspect = [temporary, source] {
        return std::pair{JXLContainer::inspect(temporary).hasJpegReconstruction,
                         JobCompletion::savesNothing(temporary, source)};
    };
    whenReady(this, QtConcurrent::run(inspect), [this](const std::pair<bool, bool> &looked) {
        if (m_cancelled->load())
            return endCancelled();
        if (!looked.first)
            return fail(JXLError::refused(JobCompletion::lacksReconstructionText()));
        if (looked.second)
            return skipNotSmaller();
        m_inspected = true;
        whenReady(this, m_sourceProof, [this](const SourceProof &proof) { verifyCompressed(digestOf(proof)); });
    });
}

void FileJob::verifyCompressed(const std::optional<QString> &sourceDigest)
{
    if (m_cancelled->load())
        return endCancelled();
    const bool disposes = m_settings.deleteStrategy != DeleteStrategy::keepOriginal;
    if (!disposes && !m_settings.verifyLossless)
        return commit();

    m_task.status = TaskStatus::verifying;
    publish();
    m_verification = new Verification(m_source, m_temporary, m_settings.customDjxlPath, this);
    if (sourceDigest)
        m_verification->setOriginalDigest(*sourceDigest);
    connect(m_verification, &Verification::finished, this, &FileJob::onVerificationFinished);
    m_verification->start();
}

void FileJob::checkRestored()
{
    const QString temporary = m_temporary;
    whenReady(this, QtConcurrent::run([temporary] {
        QString error;
        const std::optional<QString> digest = FileDigest::sha256(temporary, &error);
        return std::pair{digest, error};
    }), [this](const std::pair<std::optional<QString>, QString> &hashed) {
        if (m_cancelled->load())
            return endCancelled();
        if (!hashed.first)
            return fail(JXLError::platform(hashed.second));
        m_outputDigest = hashed.first;
        if (m_storedDigest) {
            if (*m_storedDigest != *m_outputDigest)
                return fail(Verifier::storedDigestMismatch(*m_storedDigest, *m_outputDigest));
            m_task.isVerified = true;
        }
        commit();
    });
}

void FileJob::onVerificationFinished()
{
    switch (m_verification->outcome()) {
    case Verification::Outcome::cancelled:
        return endCancelled();
    case Verification::Outcome::failed: {
        const JXLError &error = *m_verification->error();
        // djxl cannot read what cjxl has just written: say what became of both files.
        const bool unreadable = (error.kind == JXLError::Kind::executionFailed
                                 || error.kind == JXLError::Kind::killedBySignal)
            && error.headline.isEmpty();
        if (unreadable)
            return fail(error.withHeadline(tr("无损校验未通过：新生成的 JXL 无法还原，已删除；原文件保持不变")));
        return fail(error);
    }
    case Verification::Outcome::passed:
        m_task.isVerified = true;
        return commit();
    }
}

void FileJob::commit()
{
    if (m_cancelled->load())
        return endCancelled();
    m_committing = true;
    endTools();
    const bool keeps = m_settings.deleteStrategy == DeleteStrategy::keepOriginal;
    JobCompletion::Placing placing;
    placing.source = m_source;
    placing.temporary = m_temporary;
    placing.wanted = m_wanted;
    placing.cancelled = m_cancelled;
    placing.sourceProof = m_sourceProof;
    placing.storesDigest = compressing();
    // A kept source is checked now, before its output is placed; one that goes, when it goes.
    placing.checksSource = keeps && m_sourceProof.isValid();
    placing.inspects = compressing() && !m_inspected;
    // The placed file is read back before a source goes, so its digest is needed then.
    placing.needsDigest = !m_outputDigest && !keeps;
    placing.knownDigest = m_outputDigest;
    whenReady(this, JobCompletion::place(placing), [this](const JobCompletion::Placed &result) {
        m_committing = false;
        m_temporary.clear(); // placed or removed by the worker
        m_outputDigest = result.outputDigest;
        if (result.sourceChanged)
            return failChanged(SourceDisposal::changedText({}));
        if (result.notSmaller)
            return skipNotSmaller();
        if (result.placement.cancelled)
            return endCancelled();
        if (result.placement.error)
            return fail(*result.placement.error);
        const OutputFiles::Placement &placement = *result.placement.placement;
        m_takenOver = placement.reusedExisting;
        m_task.destinationURL = QUrl::fromLocalFile(placement.path);
        m_task.compressedSize = placement.size;
        dispose(placement.path, placement.size);
    });
}

void FileJob::dispose(const QString &placedPath, qint64 placedSize)
{
    if (m_settings.deleteStrategy == DeleteStrategy::keepOriginal)
        return concludeDisposal({}); // checked before it was placed
    JobCompletion::Disposing disposing;
    disposing.source = m_source;
    disposing.strategy = m_settings.deleteStrategy;
    disposing.placedPath = placedPath;
    disposing.placedSize = placedSize;
    disposing.outputDigest = m_outputDigest;
    disposing.sourceProof = m_sourceProof;
    disposing.takenOver = m_takenOver;
    // Without a digest stored at compression nothing proves that the JPEG is the original one,
    // and the JXL may be the only lossless copy of the photo.
    disposing.unproven = !compressing() && !m_task.isVerified;
    whenReady(this, JobCompletion::dispose(disposing),
              [this](const JobCompletion::Disposed &result) { concludeDisposal(result); });
}

void FileJob::concludeDisposal(const JobCompletion::Disposed &disposal)
{
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    JobCompletion::record(m_task, disposal);
    conclude();
}

void FileJob::removeTemporary()
{
    if (m_temporary.isEmpty())
        return;
    QFile::remove(m_temporary);
    m_temporary.clear();
}

void FileJob::cancel()
{
    if (m_finished || m_cancelled->load())
        return;
    m_cancelled->store(true);
    if (m_heldTool) {
        m_heldTool = nullptr;
        return endCancelled();
    }
    if (m_proof && !m_run)
        m_proof->cancel();
    else if (m_verification)
        m_verification->cancel();
    else if (m_run)
        m_run->cancel();
    // Otherwise a worker step is under way; it sees the flag when it returns.
}

void FileJob::fail(const JXLError &error)
{
    removeTemporary();
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    m_task.status = TaskStatus::failed;
    m_task.errorMessage = error.errorDescription();
    conclude();
}

void FileJob::failChanged(const QString &text)
{
    m_task.destinationURL = m_original.destinationURL;
    m_task.isVerified = false;
    fail(JXLError::platform(text));
}

void FileJob::endCancelled()
{
    removeTemporary();
    m_task = m_original;
    m_task.status = TaskStatus::pending;
    conclude();
}

void FileJob::conclude()
{
    if (m_finished) // one end only, whatever reaches it twice
        return;
    m_finished = true;
    // Queued: a cancel() can end the job at once, and its caller must see the call return first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            publish();
            Q_EMIT finished(m_task);
        },
        Qt::QueuedConnection);
}

void FileJob::publish()
{
    Q_EMIT updated(m_task);
}
