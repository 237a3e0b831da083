#include "jobcompletion.h"

#include "filedigest.h"
#include "jxlcontainer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QtConcurrent>

namespace JobCompletion {

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

SourceProof proofOf(const QFuture<SourceProof> &future)
{
    return future.isValid() ? future.result() : std::nullopt;
}

} // namespace

QFuture<SourceProof> hashSource(const QString &source, const std::shared_ptr<std::atomic_bool> &cancelled)
{
    return QtConcurrent::run([source, cancelled]() -> SourceProof {
        SourceDisposal::Proof proof;
        const std::optional<QString> digest = FileDigest::sha256(source, nullptr, cancelled.get(), &proof.identity);
        if (!digest)
            return std::nullopt;
        proof.digest = *digest;
        return proof;
    });
}

std::optional<QString> digestOf(const SourceProof &proof)
{
    return proof ? std::optional(proof->digest) : std::nullopt;
}

bool savesNothing(const QString &jxl, const QString &jpeg)
{
    return QFileInfo(jxl).size() >= QFileInfo(jpeg).size();
}

QString lacksReconstructionText()
{
    return QCoreApplication::translate("FileJob",
                                       "新生成的 JXL 不含 JPEG 重建数据，无法还原出原文件，已删除；原文件保持不变");
}

QFuture<Placed> place(const Placing &placing)
{
    return QtConcurrent::run(outputWriters(), [placing] {
        Placed result;
        result.outputDigest = placing.knownDigest;
        const auto drop = [&] { QFile::remove(placing.temporary); };
        if (placing.inspects) {
            // Without it the output holds new pixels, not the JPEG: never a lossless conversion.
            if (!JXLContainer::inspect(placing.temporary).hasJpegReconstruction) {
                drop();
                result.placement.error = JXLError::refused(lacksReconstructionText());
                return result;
            }
            if (savesNothing(placing.temporary, placing.source)) {
                drop();
                result.notSmaller = true;
                return result;
            }
        }
        const SourceProof proof = proofOf(placing.sourceProof);
        if (placing.checksSource && proof && !SourceDisposal::isUnchanged(placing.source, *proof)) {
            drop();
            result.sourceChanged = true;
            return result;
        }
        QString digest;
        if (const std::optional<JXLError> error =
                OutputFiles::finishTemporary(placing.temporary, placing.source,
                                             placing.storesDigest ? digestOf(proof) : std::nullopt,
                                             placing.needsDigest ? &digest : nullptr)) {
            drop();
            result.placement.error = error;
            return result;
        }
        if (placing.needsDigest)
            result.outputDigest = digest;
        result.placement = OutputFiles::place(placing.temporary, placing.wanted, placing.source, placing.cancelled);
        return result;
    });
}

QFuture<Disposed> dispose(const Disposing &disposing)
{
    return QtConcurrent::run([disposing] {
        Disposed result;
        if (disposing.unproven) {
            result.source.warning = QCoreApplication::translate(
                "FileJob", "JXL 文件中没有压缩时记录的原文件校验值，无法证明还原结果无损，已保留 JXL 文件");
            return result;
        }
        if (!disposing.outputDigest) {
            result.error = JXLError::platform(QCoreApplication::translate("FileJob", "无法读取输出文件"));
            return result;
        }
        result.error = OutputFiles::recheckPlaced(disposing.placedPath, disposing.placedSize, *disposing.outputDigest,
                                                  disposing.takenOver);
        if (result.error)
            return result;
        const SourceProof proof = proofOf(disposing.sourceProof);
        if (!proof) {
            result.source.warning = QCoreApplication::translate("FileJob", "无法再次读取原文件，原文件未做处理");
            return result;
        }
        result.source = SourceDisposal::dispose(disposing.source, disposing.strategy, *proof);
        // This job's output holds the photo as it was before the change.
        if (result.source.changed && !disposing.takenOver)
            result.outputRemoved = QFile::remove(disposing.placedPath);
        return result;
    });
}

void record(TaskItem &task, const Disposed &disposal)
{
    if (disposal.error) {
        // What stands at the output's name is not what this job wrote; the source stays.
        task.status = TaskStatus::failed;
        task.errorMessage = disposal.error->errorDescription();
    } else if (disposal.source.changed) {
        if (disposal.outputRemoved) {
            task.destinationURL.reset();
            task.compressedSize.reset();
        }
        task.isVerified = false;
        task.reused = false;
        task.status = TaskStatus::failed;
        task.errorMessage = SourceDisposal::changedText(disposal.source);
    } else {
        task.status = TaskStatus::completed;
        task.warning = disposal.source.warning;
    }
}

} // namespace JobCompletion
