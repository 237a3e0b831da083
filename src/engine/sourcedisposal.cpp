#include "sourcedisposal.h"

#include "filedigest.h"
#include "outputfiles.h"
#include "platform/processowner.h"
#include "platform/renamenoreplace.h"
#include "platform/trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcSourceDisposal, "pikora.sourcedisposal", QtWarningMsg)

namespace SourceDisposal {

namespace {

constexpr int kNameMax = 255;
// Enough for any real clash of names; only stops a file system that always answers "exists".
constexpr int kMaxAlternatives = 10000;

// ".pikora-<owner>-<unique>.held.<name>": hidden from imports, never taken for one of our
// temporaries, and saying whose it is and what it was called.
QString heldName(const QString &name)
{
    const QString prefix = QStringLiteral(".pikora-") + ProcessOwner::ownTag() + QLatin1Char('-')
        + QUuid::createUuid().toString(QUuid::Id128).left(8) + QStringLiteral(".held.");
    QString kept = name;
    // A long name loses the end of its stem, never its extension.
    const qsizetype dot = kept.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot > 0 ? kept.mid(dot) : QString();
    QString stem = dot > 0 ? kept.left(dot) : kept;
    while (!stem.isEmpty() && QFile::encodeName(prefix + stem + suffix).size() > kNameMax)
        stem.chop(1);
    return prefix + stem + suffix;
}

// Moves what stands at from to wanted, or to the first free "stem (n).ext" beside it, never
// replacing anything. The path it went to, or nothing.
std::optional<QString> moveBack(const QString &wanted, const std::function<int(const QString &)> &move)
{
    for (int n = 0; n <= kMaxAlternatives; ++n) {
        const QString candidate = n == 0 ? wanted : OutputFiles::alternativeName(wanted, n);
        const int error = move(candidate);
        if (error == 0)
            return candidate;
        if (error != EEXIST && error != ENOTEMPTY && error != EISDIR)
            return std::nullopt;
    }
    return std::nullopt;
}

bool sameBytes(const QString &path, const Proof &proof)
{
    return FileDigest::sha256(path) == proof.digest;
}

// Whether what was taken out of the way is the proven file: the inode that was checked at its
// name right before (the move itself changes its change time), and where its times had moved
// since the proof, the same bytes.
bool takenIsProven(const QString &taken, const FileIdentity &before, bool rehash, const Proof &proof)
{
    const std::optional<FileIdentity> now = FileIdentity::ofPath(QFile::encodeName(taken));
    if (!now || !now->sameFile(before) || now->modifiedNs != before.modifiedNs)
        return false;
    return !rehash || sameBytes(taken, proof);
}

QString cannotDelete(const QString &source, int error)
{
    return QCoreApplication::translate("SourceDisposal", "无法删除“%1”：%2").arg(source, QString::fromLocal8Bit(std::strerror(error)));
}

Result changedAt(const QString &source, const std::optional<QString> &now)
{
    Result result;
    result.changed = true;
    if (!now || *now != source)
        result.movedTo = now.value_or(QString());
    return result;
}

} // namespace

bool isUnchanged(const QString &source, const Proof &proof)
{
    const std::optional<FileIdentity> now = FileIdentity::ofPath(QFile::encodeName(source), true);
    if (!now || !now->sameFile(proof.identity))
        return false;
    return now->untouchedSince(proof.identity) || sameBytes(source, proof);
}

Result dispose(const QString &source, DeleteStrategy strategy, const Proof &proof)
{
    const QByteArray path = QFile::encodeName(source);
    struct stat info;
    if (::lstat(path.constData(), &info) != 0) {
        // Moved away or deleted by someone else: the output still holds the photo.
        Result result;
        if (strategy != DeleteStrategy::keepOriginal)
            result.warning = QCoreApplication::translate("SourceDisposal", "“%1”在转换过程中已被移走或删除，未做处理").arg(source);
        return result;
    }
    if (S_ISLNK(info.st_mode)) {
        if (!isUnchanged(source, proof))
            return changedAt(source, source);
        // Removing the link would leave the photo it names where it is, counted as gone.
        Result result;
        if (strategy != DeleteStrategy::keepOriginal)
            result.warning = QCoreApplication::translate("SourceDisposal", "“%1”是符号链接，它指向的照片未做处理").arg(source);
        return result;
    }
    const std::optional<FileIdentity> before = FileIdentity::ofPath(path);
    if (!before || !S_ISREG(info.st_mode) || !before->sameFile(proof.identity))
        return changedAt(source, source);
    const bool rehash = !before->untouchedSince(proof.identity);
    if (strategy == DeleteStrategy::keepOriginal)
        return rehash && !sameBytes(source, proof) ? changedAt(source, source) : Result{};

    if (strategy == DeleteStrategy::moveToTrash) {
        QString error;
        QString trashed;
        if (!Trash::moveToTrash(source, &error, &trashed)) {
            Result result;
            result.warning = error;
            return result;
        }
        if (takenIsProven(trashed, *before, rehash, proof))
            return {};
        const std::optional<QString> back = moveBack(source, [&](const QString &to) { return Trash::takeBack(trashed, to); });
        return changedAt(source, back ? *back : trashed);
    }

    const QString held = QFileInfo(source).dir().filePath(heldName(QFileInfo(source).fileName()));
    const QByteArray heldPath = QFile::encodeName(held);
    if (const int error = renameNoReplace(path, heldPath); error != 0) {
        Result result;
        result.warning = cannotDelete(source, error);
        return result;
    }
    if (takenIsProven(held, *before, rehash, proof)) {
        if (::unlink(heldPath.constData()) == 0)
            return {};
        const int error = errno;
        Result result;
        result.warning = cannotDelete(source, error);
        // Not deleted after all: it goes back where the user keeps it.
        const std::optional<QString> back =
            moveBack(source, [&](const QString &to) { return renameNoReplace(heldPath, QFile::encodeName(to)); });
        if (!back || *back != source)
            result.warning = *result.warning + u'\n' + QCoreApplication::translate("SourceDisposal", "原文件现位于“%1”").arg(back.value_or(held));
        return result;
    }
    const std::optional<QString> back =
        moveBack(source, [&](const QString &to) { return renameNoReplace(heldPath, QFile::encodeName(to)); });
    return changedAt(source, back ? *back : held);
}

QString changedText(const Result &result)
{
    QString text = QCoreApplication::translate("SourceDisposal", "原照片在转换过程中被修改，已保留修改后的文件；请重新转换");
    if (!result.movedTo.isEmpty())
        text += u'\n' + QCoreApplication::translate("SourceDisposal", "修改后的文件现位于“%1”").arg(result.movedTo);
    return text;
}

void recoverHeldOnce(const QString &folder)
{
    static std::mutex mutex;
    static QSet<QString> done;
    const QString key = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    {
        const std::lock_guard lock(mutex);
        if (done.contains(key))
            return;
        done.insert(key);
    }
    static const QRegularExpression pattern(
        QStringLiteral("^\\.pikora-([0-9a-f]{8}-[0-9]+-[0-9]+)-[0-9a-f]{8}\\.held\\.(.+)$"));
    const QDir dir(key);
    for (const QString &name : dir.entryList({QStringLiteral(".pikora-*.held.*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch() || ProcessOwner::stateOf(match.captured(1)) != ProcessOwner::State::dead)
            continue;
        const QByteArray held = QFile::encodeName(dir.filePath(name));
        struct stat info;
        if (::lstat(held.constData(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid())
            continue;
        const std::optional<QString> back = moveBack(
            dir.filePath(match.captured(2)), [&](const QString &to) { return renameNoReplace(held, QFile::encodeName(to)); });
        if (back)
            qCInfo(lcSourceDisposal) << "put back a photo a stopped run held:" << *back;
    }
}

} // namespace SourceDisposal
