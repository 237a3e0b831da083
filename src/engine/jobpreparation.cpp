#include "jobpreparation.h"

#include "filedigest.h"
#include "filesignature.h"
#include "jpegdiagnosis.h"
#include "jxlcontainer.h"
#include "outputfiles.h"
#include "sourcedisposal.h"
#include "toolrun.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace JobPreparation {

namespace {

// Enough for any real run of numbered names; only stops a file system that always answers.
constexpr int kMaxSiblings = 10000;

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

// The outputs a former run may have left (a link is never ours). One that cannot be read is
// left alone, hashed or not.
QList<Existing> findExisting(const Request &request)
{
    QList<Existing> found;
    for (int n = 0; n <= kMaxSiblings; ++n) {
        const QString path = n == 0 ? request.wanted : OutputFiles::alternativeName(request.wanted, n);
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
            if (errno == ENOENT)
                break;
            continue;
        }
        if (!S_ISREG(info.st_mode))
            continue;
        Existing existing;
        existing.path = path;
        existing.size = info.st_size;
        if (!request.restoring) {
            existing.storedDigest = FileDigest::stored(path);
            if (n > 0 && !existing.storedDigest)
                continue;
        }
        const std::optional<QString> digest = request.hashExisting
            ? FileDigest::sha256(path)
            : (QFile(path).open(QIODevice::ReadOnly) ? std::optional(QString()) : std::nullopt);
        if (!digest)
            continue;
        existing.digest = *digest;
        found.append(existing);
    }
    return found;
}

} // namespace

Result prepare(const Request &request)
{
    Result result;
    const QString folder = QFileInfo(request.temporary).absolutePath();
    const std::optional<JXLError> folderError = OutputFiles::makeOutputFolders(folder, request.outputFolder, request.sourceBase);
    if (!folderError)
        OutputFiles::removeDeadLeftoversOnce(folder);
    // A photo a stopped run had taken out of the way goes back before anything looks for it.
    SourceDisposal::recoverHeldOnce(QFileInfo(request.source).absolutePath());
    // A source that cannot be read is the cause to report (by the tool run, after the tool
    // search), not whatever creating its output would then run into.
    result.sourceUnreadable = ToolRun::unreadableReason(request.source).has_value();
    if (result.sourceUnreadable)
        return result;
    if (folderError) {
        result.error = folderError;
        return result;
    }
    if (request.restoring) {
        // Without reconstruction data djxl still succeeds, but with a newly encoded, lossy JPEG.
        const JXLContainer::Info info = JXLContainer::inspect(request.source);
        result.reconstructable = info.hasJpegReconstruction;
        result.storedDigest = FileDigest::stored(request.source);
    }
    // Looked at only where it can be proven: for a restore only by the digest its JXL stored.
    if (!request.restoring || result.storedDigest)
        result.existing = findExisting(request);
    if (!request.restoring) {
        if (const std::optional<QString> reason = notJpegReason(request.source)) {
            result.error = JXLError::refused(*reason);
            return result;
        }
    }
    result.error = OutputFiles::createTemporary(request.temporary, request.source);
    return result;
}

} // namespace JobPreparation
