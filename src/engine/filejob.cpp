#include "filejob.h"

#include "filedigest.h"
#include "filesignature.h"
#include "jpegdiagnosis.h"
#include "jxlcontainer.h"
#include "outputfiles.h"
#include "toolrun.h"
#include "verifier.h"
#include "whenready.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>

#include <sys/stat.h>

namespace {

// Placing outputs mostly waits for the disk to flush them.
constexpr int kOutputWriters = 4;

QThreadPool *outputWriters()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool(QCoreApplication::instance());
        created->setMaxThreadCount(kOutputWriters);
        return created;
    }();
    return pool;
}

// djxl says so when a file has no JPEG bitstream to rebuild and it encodes new pixels instead.
bool reportsPixelFallback(const QByteArray &stderrText)
{
    return stderrText.contains("Retrying with --pixels_to_jpeg") || stderrText.contains("Decoded to pixels");
}

// Why a source to compress is no JPEG at all, from its first bytes; nothing for a JPEG. cjxl
// would encode the pixels of a PNG or GIF without complaint, giving a file that can never
// give back the original.
std::optional<QString> notJpegReason(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt; // the tool run reports what keeps it from being read
    const FileSignature::Format format = FileSignature::identify(file.read(FileSignature::headLength));
    if (format == FileSignature::Format::unknown && file.size() > 0) {
        // A JPEG behind bytes of something else: the diagnosis says how many.
        if (const uchar *mapped = file.map(0, file.size())) {
            const QByteArrayView bytes(mapped, file.size());
            if (JpegDiagnosis::findProblem(bytes) == JpegDiagnosis::Problem::leadingData)
                return JpegDiagnosis::describe(JpegDiagnosis::Problem::leadingData, bytes);
        }
    }
    return FileSignature::notJpegReason(format);
}

QString lacksReconstructionText()
{
    return QCoreApplication::translate("FileJob",
                                       "新生成的 JXL 不含 JPEG 重建数据，无法还原出原文件，已删除；原文件保持不变");
}

struct Preparation
{
    std::optional<JXLError> error;
    bool reconstructable = true;
    bool sourceUnreadable = false;
    std::optional<QString> storedDigest;
    std::optional<FileJob::Existing> existing;
};

struct Commitment
{
    OutputFiles::PlacementResult placement;
    std::optional<QString> outputDigest;
};

struct Disposal
{
    std::optional<JXLError> error; // the placed output is not what was placed: nothing disposed of
    std::optional<QString> warning;
};

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

    const QString source = m_source;
    const QString temporary = m_temporary;
    const QString wanted = m_wanted;
    const auto cancelled = m_cancelled;
    const bool restoring = !compressing();
    // A former output's own digest is what a restore compares, and what the recheck before a
    // source goes compares; a compression that keeps its source needs only the stored one.
    const bool hashExisting = restoring || m_settings.deleteStrategy != DeleteStrategy::keepOriginal;
    const QString outputFolder = m_outputFolder;
    // The folder holding the import root: the mirrored folders take their bits from below it.
    const QString sourceBase = QFileInfo(m_task.importRoot.isEmpty() ? QFileInfo(m_source).absolutePath()
                                                                     : m_task.importRoot)
                                   .absolutePath();
    if (compressing()) {
        // Stored with the output, it lets a restore prove its result; hashed while the tool runs.
        m_sourceDigest = QtConcurrent::run([source, cancelled] { return FileDigest::sha256(source, nullptr, cancelled.get()); });
    }
    // Ahead of the hashing of other jobs' sources: the tool waits for this.
    const QFuture<Preparation> preparation = QtConcurrent::task([source, temporary, wanted, restoring, hashExisting,
                                                                 outputFolder, sourceBase] {
        Preparation result;
        const QString folder = QFileInfo(temporary).absolutePath();
        // A folder that cannot be made shows up as the error below.
        if (outputFolder.isEmpty())
            QDir().mkpath(folder);
        else
            OutputFiles::makeMirroredFolders(folder, outputFolder, sourceBase);
        OutputFiles::removeDeadLeftoversOnce(folder);
        // A source that cannot be read is the cause to report (by the tool run, after the tool
        // search), not whatever creating its output would then run into.
        result.sourceUnreadable = ToolRun::unreadableReason(source).has_value();
        if (restoring && !result.sourceUnreadable) {
            // Without reconstruction data djxl still succeeds, but with a newly encoded, lossy JPEG.
            const JXLContainer::Info info = JXLContainer::inspect(source);
            result.reconstructable = info.hasJpegReconstruction;
            result.storedDigest = FileDigest::stored(source);
        }
        // What a former run left at the wanted name may spare the tool run (a link is never ours).
        // It is looked at only where it can be proven: never for a source that cannot be read,
        // and for a restore only by the digest its JXL stored.
        struct stat info;
        if (!result.sourceUnreadable && (!restoring || result.storedDigest)
            && ::lstat(QFile::encodeName(wanted).constData(), &info) == 0 && S_ISREG(info.st_mode)) {
            // One that cannot be read is left alone, hashed or not.
            const std::optional<QString> digest =
                hashExisting ? FileDigest::sha256(wanted)
                             : (QFile(wanted).open(QIODevice::ReadOnly) ? std::optional(QString()) : std::nullopt);
            if (digest) {
                FileJob::Existing existing;
                existing.size = info.st_size;
                existing.digest = *digest;
                if (!restoring)
                    existing.storedDigest = FileDigest::stored(wanted);
                result.existing = existing;
            }
        }
        if (!restoring && !result.sourceUnreadable) {
            if (const std::optional<QString> reason = notJpegReason(source)) {
                result.error = JXLError::refused(*reason);
                return result;
            }
        }
        if (!result.sourceUnreadable)
            result.error = OutputFiles::createTemporary(temporary, source);
        return result;
    })
        .withPriority(1)
        .spawn();
    whenReady(this, preparation, [this](const Preparation &result) {
        m_preparing = false;
        m_storedDigest = result.storedDigest;
        m_existing = result.existing;
        prepared(result.error, result.reconstructable, result.sourceUnreadable);
    });
}

void FileJob::prepared(const std::optional<JXLError> &error, bool reconstructable, bool sourceUnreadable)
{
    if (m_cancelled->load())
        return endCancelled();
    if (error) {
        m_temporary.clear(); // not ours: creating it failed
        return fail(*error);
    }
    if (!compressing() && !sourceUnreadable && !reconstructable)
        return fail(JXLError::invalidFormat(reconstructableJXLText()));
    if (m_existing && !sourceUnreadable) {
        if (compressing())
            whenReady(this, m_sourceDigest, [this](const std::optional<QString> &digest) { considerExisting(digest); });
        else
            considerExisting(m_storedDigest);
        return;
    }
    runTool(); // a missing or unreadable source is reported by the tool run, after the tool search
}

// An output a former run left is taken instead of a new one only when it is known to hold the
// source: a JXL whose stored source digest is the source's, or a JPEG whose digest is the one
// its JXL stored. A JXL without a stored digest is proven by restoring it; one whose digest
// names another photo is somebody else's, and the job converts to a new name as ever.
void FileJob::considerExisting(const std::optional<QString> &sourceDigest)
{
    if (m_cancelled->load())
        return endCancelled();
    const Existing &existing = *m_existing;
    const bool keeps = m_settings.deleteStrategy == DeleteStrategy::keepOriginal;
    if (!sourceDigest)
        return runTool();
    // Claimed like a placed output: one file never stands for two sources.
    if (!compressing()) {
        if (existing.digest != *sourceDigest || !OutputFiles::claimExisting(m_wanted, m_source))
            return runTool();
        return takeExisting(true);
    }
    if ((existing.storedDigest && *existing.storedDigest != *sourceDigest)
        || !OutputFiles::claimExisting(m_wanted, m_source))
        return runTool();
    // Trusted without a proof only when nothing is disposed of on its word and no proof of
    // every output was asked for.
    if (existing.storedDigest && keeps && !m_settings.verifyLossless)
        return takeExisting(false);
    whenAllowed([this, digest = *sourceDigest] { startProof(digest); });
}

void FileJob::startProof(const QString &sourceDigest)
{
    m_task.status = TaskStatus::verifying;
    publish();
    m_proof = new Verification(m_source, m_wanted, m_settings.customDjxlPath, this);
    m_proof->setOriginalDigest(sourceDigest);
    connect(m_proof, &Verification::finished, this, [this](Verification::Outcome outcome) {
        switch (outcome) {
        case Verification::Outcome::cancelled:
            return endCancelled();
        case Verification::Outcome::failed:
            // Neither file is touched; a fresh output goes to a new name.
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
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    const Existing &existing = *m_existing;
    m_task.destinationURL = QUrl::fromLocalFile(m_wanted);
    m_task.compressedSize = existing.size;
    m_task.isVerified = verified;
    if (m_settings.deleteStrategy == DeleteStrategy::keepOriginal) {
        m_task.status = TaskStatus::skipped;
        m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
        return conclude();
    }
    // Disposed of as after a conversion: the output is checked once more right before.
    m_task.reused = true;
    m_outputDigest = existing.digest;
    dispose(m_wanted, existing.size);
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
        if (reportsPixelFallback(m_run->standardError()))
            return fail(JXLError::invalidFormat(reconstructableJXLText()));
        return checkRestored();
    }
    // Nothing proven, nothing disposed of: the output's last checks go with its placing, and
    // no tool runs for it any more.
    if (m_settings.deleteStrategy == DeleteStrategy::keepOriginal && !m_settings.verifyLossless)
        return commit();
    const QString temporary = m_temporary;
    whenReady(this, QtConcurrent::run([temporary] { return JXLContainer::inspect(temporary).hasJpegReconstruction; }),
              [this](bool reconstructable) {
                  if (m_cancelled->load())
                      return endCancelled();
                  if (!reconstructable)
                      return fail(JXLError::refused(lacksReconstructionText()));
                  m_inspected = true;
                  whenReady(this, m_sourceDigest,
                            [this](const std::optional<QString> &digest) { verifyCompressed(digest); });
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
    const QString source = m_source;
    const QString temporary = m_temporary;
    const QString wanted = m_wanted;
    const auto cancelled = m_cancelled;
    // Hashed on the pool meanwhile; the writer waits for it where it is not in yet.
    const QFuture<std::optional<QString>> sourceDigest = compressing() ? m_sourceDigest : QFuture<std::optional<QString>>();
    // A compressed output not yet looked into (nothing was proven) is looked into here.
    const bool checkReconstruction = compressing() && !m_inspected;
    // The placed file is read back before a source goes, so its digest is needed then.
    const bool needsDigest = !m_outputDigest && m_settings.deleteStrategy != DeleteStrategy::keepOriginal;
    const std::optional<QString> knownDigest = m_outputDigest;
    // Waiting on the disk, not on a processor: kept off the pool the next jobs prepare on.
    whenReady(this, QtConcurrent::run(outputWriters(), [source, temporary, wanted, cancelled, sourceDigest, checkReconstruction,
                                        needsDigest, knownDigest] {
        Commitment result;
        result.outputDigest = knownDigest;
        // Without it the output holds new pixels, not the JPEG: never a lossless conversion.
        if (checkReconstruction && !JXLContainer::inspect(temporary).hasJpegReconstruction) {
            QFile::remove(temporary);
            result.placement.error = JXLError::refused(lacksReconstructionText());
            return result;
        }
        QString digest;
        const std::optional<QString> storedDigest = sourceDigest.isValid() ? sourceDigest.result() : std::nullopt;
        if (const std::optional<JXLError> error =
                OutputFiles::finishTemporary(temporary, source, storedDigest, needsDigest ? &digest : nullptr)) {
            QFile::remove(temporary);
            result.placement.error = error;
            return result;
        }
        if (needsDigest)
            result.outputDigest = digest;
        result.placement = OutputFiles::place(temporary, wanted, source, cancelled);
        return result;
    }), [this](const Commitment &result) {
        m_committing = false;
        m_temporary.clear(); // placed or removed by the worker
        m_outputDigest = result.outputDigest;
        if (result.placement.cancelled)
            return endCancelled();
        if (result.placement.error)
            return fail(*result.placement.error);
        const OutputFiles::Placement &placement = *result.placement.placement;
        m_task.destinationURL = QUrl::fromLocalFile(placement.path);
        m_task.compressedSize = placement.size;
        dispose(placement.path, placement.size);
    });
}

void FileJob::dispose(const QString &placedPath, qint64 placedSize)
{
    const DeleteStrategy strategy = m_settings.deleteStrategy;
    const QString source = m_source;
    const std::optional<QString> digest = m_outputDigest;
    // Without a digest stored at compression nothing proves that the JPEG is the original one,
    // and the JXL may be the only lossless copy of the photo.
    const bool unproven = !compressing() && !m_task.isVerified;
    if (strategy == DeleteStrategy::keepOriginal) {
        // Nothing to do on a worker.
        concludeDisposal(std::nullopt, std::nullopt);
        return;
    }
    whenReady(this, QtConcurrent::run([source, strategy, placedPath, placedSize, digest, unproven] {
        Disposal result;
        if (unproven) {
            result.warning = QCoreApplication::translate(
                "FileJob", "JXL 文件中没有压缩时记录的原文件校验值，无法证明还原结果无损，已保留 JXL 文件");
            return result;
        }
        if (!digest) {
            result.error = JXLError::platform(QCoreApplication::translate("FileJob", "无法读取输出文件"));
            return result;
        }
        result.error = OutputFiles::recheckPlaced(placedPath, placedSize, *digest);
        if (!result.error)
            result.warning = OutputFiles::disposeSource(source, strategy);
        return result;
    }), [this](const Disposal &result) { concludeDisposal(result.error, result.warning); });
}

void FileJob::concludeDisposal(const std::optional<JXLError> &error, const std::optional<QString> &warning)
{
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    if (error) {
        // What stands at the output's name is not what this job wrote; the source stays.
        m_task.status = TaskStatus::failed;
        m_task.errorMessage = error->errorDescription();
    } else {
        m_task.status = TaskStatus::completed;
        m_task.warning = warning;
    }
    conclude();
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
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    m_task.status = TaskStatus::failed;
    m_task.errorMessage = error.errorDescription();
    conclude();
}

void FileJob::endCancelled()
{
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
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
