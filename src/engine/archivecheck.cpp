#include "archivecheck.h"

#include "boxwalker.h"
#include "bytesource.h"
#include "filedigest.h"
#include "fileidentity.h"
#include "jxlerror.h"
#include "jxlsignature.h"
#include "platform/extendedattributes.h"
#include "toolcommands.h"
#include "toolrun.h"
#include "verifier.h"
#include "whenready.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QUuid>
#include <QtConcurrent>

#include <fcntl.h>
#include <unistd.h>

namespace {

struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(ArchiveCheck)
};

using Verdict = ArchiveCheck::Verdict;

struct Outcome
{
    Verdict verdict = Verdict::failed;
    QString message;
};

std::optional<FileIdentity> identityOf(const QString &path)
{
    return FileIdentity::ofPath(QFile::encodeName(path), true);
}

// Remembers a good check on the file, unless what stands at path now is not the file that was
// checked: one rewritten or replaced meanwhile has proved nothing.
bool recordGoodCheck(const QString &path, const FileIdentity &checked, const QDateTime &began)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const std::optional<FileIdentity> now = FileIdentity::of(fd);
    const bool same = now && now->sameFile(checked) && now->modifiedNs == checked.modifiedNs;
    // A file system without extended attributes only means the next run checks it again.
    const bool written = same && ExtendedAttributes::write(fd, ArchiveCheck::kCheckedAttribute,
                                                           began.toString(Qt::ISODateWithMs).toLatin1()) == 0;
    ::close(fd);
    return written;
}

// Hashes djxl's copy (the one read of its bytes) and gives the verdict; a good one is recorded.
Outcome judgeCopy(const QString &copy, const QString &path, const std::optional<QString> &storedDigest,
                  const FileIdentity &identity, const QDateTime &began, std::shared_ptr<std::atomic_bool> stop)
{
    if (QFile(copy).size() <= 0)
        return {Verdict::failed, JXLError::fileNotFound(copy).errorDescription()};
    QString error;
    const std::optional<QString> rebuilt = FileDigest::sha256(copy, &error, stop.get());
    QFile::remove(copy);
    if (!rebuilt)
        return {stop->load() ? Verdict::cancelled : Verdict::failed, error};
    if (!storedDigest)
        return {Verdict::unproven, Texts::tr("可以还原，但没有记录原文件的校验值，无法证明还原结果就是原文件")};
    if (*rebuilt != *storedDigest)
        return {Verdict::damaged, Texts::tr("JXL 已损坏：还原结果与记录的原文件校验值不符")};
    recordGoodCheck(path, identity, began);
    return {Verdict::ok, {}};
}

// djxl's own reason, without its banner and progress lines: its first JXL_FAILURE ("Missing EOI
// symbol"), else the first line it says about the file ("Input file is truncated ..."). The whole
// of what it wrote says little more, at many times the length.
QString toolReason(const QByteArray &standardError)
{
    static constexpr QByteArrayView kFailure("JXL_FAILURE: ");
    QByteArray first;
    for (const QByteArray &line : standardError.split('\n')) {
        const qsizetype at = line.indexOf(kFailure);
        if (at >= 0)
            return QString::fromUtf8(line.mid(at + kFailure.size())).trimmed();
        const QByteArray text = line.left(line.indexOf("Warning:")).trimmed();
        if (first.isEmpty() && !text.isEmpty() && !text.startsWith("JPEG XL decoder") && !text.startsWith("Read "))
            first = text;
    }
    return QString::fromUtf8(first);
}

} // namespace

struct ArchiveCheck::Prepared
{
    std::optional<Outcome> early; // decided before any tool runs
    std::optional<QDateTime> lastChecked;
    std::optional<QString> storedDigest;
    FileIdentity identity;
    QDateTime began;
    QString copy; // in a private folder made for it
};

ArchiveCheck::ArchiveCheck(QString jxlPath, QString customDjxlPath, QObject *parent)
    : QObject(parent)
    , m_path(std::move(jxlPath))
    , m_customDjxlPath(std::move(customDjxlPath))
{
}

ArchiveCheck::~ArchiveCheck()
{
    m_stop->store(true);
    delete m_run; // kills a tool still running
    removeCopy();
}

std::optional<QDateTime> ArchiveCheck::lastGoodCheck(const QString &path)
{
    const std::optional<QByteArray> stored = ExtendedAttributes::read(path, kCheckedAttribute);
    if (!stored)
        return std::nullopt;
    const QDateTime checked = QDateTime::fromString(QString::fromLatin1(*stored), Qt::ISODate);
    const std::optional<FileIdentity> identity = identityOf(path);
    // A time to come is no check that happened.
    if (!checked.isValid() || !identity || checked > QDateTime::currentDateTimeUtc())
        return std::nullopt;
    if (identity->modifiedNs > checked.toMSecsSinceEpoch() * 1'000'000)
        return std::nullopt;
    return checked.toUTC();
}

ArchiveCheck::Structure ArchiveCheck::inspect(const QString &path, bool hasStoredDigest)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {Verdict::failed, JXLError::unreadable(path, file.errorString()).errorDescription()};
    const ByteSource source(&file);
    const auto withoutReconstruction = [hasStoredDigest]() -> Structure {
        // A stored digest says it was made from a JPEG, so it once had what rebuilds one.
        if (hasStoredDigest)
            return {Verdict::damaged, Texts::tr("JXL 已损坏：记录了原文件的校验值，却没有 JPEG 还原数据")};
        return {Verdict::notRestorable, Texts::tr("只含像素，没有 JPEG 还原数据：它从未保存过原 JPEG 的字节")};
    };
    switch (JxlSignature::identify(source.read(0, JxlSignature::headLength))) {
    case JxlSignature::Kind::none:
        return {Verdict::damaged, Texts::tr("JXL 已损坏：文件开头不是 JPEG XL 的标识")};
    case JxlSignature::Kind::codestream:
        return withoutReconstruction();
    case JxlSignature::Kind::container:
        break;
    }
    bool reconstructable = false;
    bool cut = false;
    BoxWalker::walk(source, JxlSignature::container.size(), [&](const BoxWalker::Box &box) {
        reconstructable = box.type == "jbrd";
        cut = !box.complete;
        return !reconstructable;
    });
    // Whether what follows the reconstruction data is whole, djxl tells.
    if (reconstructable)
        return {};
    if (cut)
        return {Verdict::damaged, Texts::tr("JXL 已损坏：文件不完整，在 JPEG 还原数据之前就已截断")};
    return withoutReconstruction();
}

void ArchiveCheck::start()
{
    const QString path = m_path;
    const std::optional<qint64> skipWithin = m_skipWithinSeconds;
    whenReady(this, QtConcurrent::run([path, skipWithin]() -> Prepared {
        Prepared prepared;
        prepared.began = QDateTime::currentDateTimeUtc();
        const std::optional<FileIdentity> identity = identityOf(path);
        if (!identity) {
            prepared.early = Outcome{Verdict::failed, JXLError::fileNotFound(path).errorDescription()};
            return prepared;
        }
        prepared.identity = *identity;
        // A pipe named .jxl would hold the read open for ever; a file that cannot be opened says why.
        if (const std::optional<QString> reason = ToolRun::unreadableReason(path)) {
            prepared.early = Outcome{Verdict::failed, JXLError::unreadable(path, *reason).errorDescription()};
            return prepared;
        }
        if (skipWithin) {
            prepared.lastChecked = lastGoodCheck(path);
            if (prepared.lastChecked && prepared.lastChecked->secsTo(prepared.began) < *skipWithin) {
                prepared.early = Outcome{Verdict::skipped, {}};
                return prepared;
            }
        }
        prepared.storedDigest = FileDigest::stored(path);
        const Structure structure = inspect(path, prepared.storedDigest.has_value());
        if (structure.verdict != Verdict::ok) {
            prepared.early = Outcome{structure.verdict, structure.message};
            return prepared;
        }
        QString error;
        const std::optional<QString> folder = Verifier::makePrivateFolder(&error);
        if (!folder) {
            prepared.early = Outcome{Verdict::failed, error};
            return prepared;
        }
        // The name the sweep of dead processes' folders knows; .jpg makes djxl rebuild the JPEG.
        prepared.copy = QDir(*folder).filePath(QStringLiteral("verify_")
                                               + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                                               + QStringLiteral(".jpg"));
        return prepared;
    }), [this](const Prepared &prepared) {
        if (!prepared.copy.isEmpty()) {
            m_copy = prepared.copy;
            m_folder = QFileInfo(m_copy).absolutePath();
        }
        if (m_stop->load())
            return finish(Verdict::cancelled);
        if (prepared.early) {
            if (prepared.early->verdict == Verdict::skipped)
                m_lastChecked = prepared.lastChecked;
            return finish(prepared.early->verdict, prepared.early->message);
        }
        runTool(prepared);
    });
}

void ArchiveCheck::runTool(const Prepared &prepared)
{
    m_run = ToolRun::transcodeJXLtoJPEG(m_path, m_copy, m_customDjxlPath, this);
    connect(m_run, &ToolRun::finished, this,
            [this, digest = prepared.storedDigest, identity = prepared.identity, began = prepared.began](
                ToolRun::Outcome outcome) {
        if (outcome == ToolRun::Outcome::cancelled || m_stop->load())
            return finish(Verdict::cancelled);
        if (outcome == ToolRun::Outcome::failed) {
            const JXLError error = m_run->error().value_or(JXLError::platform(QString()));
            // djxl refusing the file is the file's fault; a full disk or a killed tool is not.
            if (error.kind != JXLError::Kind::executionFailed || !error.headline.isEmpty())
                return finish(Verdict::failed, error.errorDescription());
            const QString reason = toolReason(m_run->standardError());
            return finish(Verdict::damaged, Texts::tr("JXL 已损坏：djxl 无法还原它（%1）")
                                                .arg(reason.isEmpty() ? error.errorDescription() : reason));
        }
        if (ToolCommands::djxlFellBackToPixels(m_run->standardError())) {
            const QString reason = toolReason(m_run->standardError());
            return finish(Verdict::damaged, reason.isEmpty()
                              ? Texts::tr("JXL 已损坏：JPEG 还原数据无法使用，djxl 只能解码出像素")
                              : Texts::tr("JXL 已损坏：JPEG 还原数据无法使用，djxl 只能解码出像素（%1）").arg(reason));
        }
        whenReady(this, QtConcurrent::run(&judgeCopy, m_copy, m_path, digest, identity, began, m_stop),
                  [this, began](const Outcome &judged) {
            if (judged.verdict == Verdict::ok)
                m_lastChecked = began;
            finish(judged.verdict, judged.message);
        });
    });
    m_run->start();
}

void ArchiveCheck::cancel()
{
    if (m_finished)
        return;
    m_stop->store(true);
    if (m_run)
        m_run->cancel();
}

void ArchiveCheck::finish(Verdict verdict, const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    m_verdict = verdict;
    m_message = message;
    removeCopy();
    Q_EMIT finished();
}

void ArchiveCheck::removeCopy()
{
    if (!m_copy.isEmpty())
        QFile::remove(m_copy);
    if (!m_folder.isEmpty())
        ::rmdir(QFile::encodeName(m_folder).constData());
    m_copy.clear();
    m_folder.clear();
}
