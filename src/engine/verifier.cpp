#include "verifier.h"

#include "filedigest.h"
#include "outputfiles.h"
#include "platform/processowner.h"
#include "toolrun.h"
#include "whenready.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QRegularExpression>
#include <QUuid>
#include <QtConcurrent>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>


namespace Verifier {

namespace {

const QString &privateFolderPrefix()
{
    static const QString prefix = QStringLiteral("pikora-") + ProcessOwner::ownTag() + QLatin1Char('-');
    return prefix;
}

// Folders of verification copies whose process died before it could remove them.
void removeDeadPrivateFolders(const QString &temporaryFolder)
{
    static const QRegularExpression pattern(QStringLiteral("^pikora-([0-9a-f]{8}-[0-9]+-[0-9]+)-[A-Za-z0-9]{6}$"));
    const QDir folder(temporaryFolder);
    for (const QString &name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch() || ProcessOwner::stateOf(match.captured(1)) != ProcessOwner::State::dead)
            continue;
        const QByteArray path = QFile::encodeName(folder.filePath(name));
        struct stat info;
        if (::lstat(path.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::getuid())
            continue;
        // Only what a verification puts there; anything else keeps the folder.
        for (const QString &file : QDir(folder.filePath(name)).entryList({QStringLiteral("verify_*.jpg")},
                                                                          QDir::Files | QDir::Hidden | QDir::System))
            ::unlink(QFile::encodeName(folder.filePath(name) + QLatin1Char('/') + file).constData());
        ::rmdir(path.constData());
    }
}

} // namespace

std::optional<QString> makePrivateFolder(QString *errorText)
{
    const QString temporaryFolder = QDir::tempPath();
    static std::once_flag swept;
    std::call_once(swept, [&] { removeDeadPrivateFolders(temporaryFolder); });
    QByteArray pattern = QFile::encodeName(QDir(temporaryFolder).filePath(privateFolderPrefix() + QStringLiteral("XXXXXX")));
    if (!::mkdtemp(pattern.data())) { // mkdtemp makes it 0700
        if (errorText)
            *errorText = qt_error_string(errno) + QStringLiteral(": ") + temporaryFolder;
        return std::nullopt;
    }
    return QFile::decodeName(pattern);
}

std::optional<JXLError> compareRebuilt(const QString &originalJPEG, const QString &rebuiltJPEG,
                                       const std::optional<QString> &originalDigest)
{
    QFile rebuiltFile(rebuiltJPEG);
    if (!QFileInfo::exists(rebuiltJPEG) || rebuiltFile.size() == 0)
        return JXLError::verificationFailed(QCoreApplication::translate("Verifier", "未能生成校验临时文件"));

    QString error;
    std::optional<QString> original = originalDigest;
    if (!original)
        original = FileDigest::sha256(originalJPEG, &error);
    if (!original)
        return JXLError::platform(error);
    const std::optional<QString> rebuilt = FileDigest::sha256(rebuiltJPEG, &error);
    if (!rebuilt)
        return JXLError::platform(error);
    if (*original == *rebuilt)
        return std::nullopt;

    const QFileInfo originalInfo(originalJPEG);
    const QFileInfo rebuiltInfo(rebuiltJPEG);
    if (!originalInfo.exists() || !rebuiltInfo.exists())
        return JXLError::verificationFailed(QCoreApplication::translate("Verifier", "无法读取文件属性"));
    return JXLError::verificationFailed(QCoreApplication::translate("Verifier", "哈希比对不一致 (原文件: %1..., 还原: %2...)")
                                            .arg(original->left(8), rebuilt->left(8)));
}

JXLError storedDigestMismatch(const QString &stored, const QString &rebuilt)
{
    return JXLError::verificationFailed(
        QCoreApplication::translate("Verifier",
                                    "还原出的 JPEG 与压缩时记录的原文件不一致 (记录: %1..., 还原: %2...)，JXL 文件可能已损坏")
            .arg(stored.left(8), rebuilt.left(8)));
}

} // namespace Verifier

Verification::Verification(QString originalJPEG, QString convertedJXL, QString customDjxlPath, QObject *parent)
    : QObject(parent)
    , m_original(std::move(originalJPEG))
    , m_converted(std::move(convertedJXL))
    , m_customDjxlPath(std::move(customDjxlPath))
{
}

Verification::~Verification()
{
    delete m_run; // kills a tool still running
    removeCopy();
}

void Verification::start()
{
    const QString original = m_original;
    // The copy is the photo itself: private folder, the original's permission bits from the start.
    whenReady(this, QtConcurrent::run([original]() -> std::pair<QString, QString> {
        QString error;
        const std::optional<QString> folder = Verifier::makePrivateFolder(&error);
        if (!folder)
            return {QString(), error};
        const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        const QString copy = QDir(*folder).filePath(QStringLiteral("verify_") + uuid + QStringLiteral(".jpg"));
        if (const std::optional<JXLError> failure = OutputFiles::createTemporary(copy, original)) {
            ::rmdir(QFile::encodeName(*folder).constData());
            return {QString(), failure->errorDescription()};
        }
        return {copy, QString()};
    }), [this](const std::pair<QString, QString> &prepared) {
        if (prepared.first.isEmpty())
            return finish(Outcome::failed, JXLError::platform(prepared.second));
        m_temporary = prepared.first;
        m_folder = QFileInfo(m_temporary).absolutePath();
        if (m_cancelled)
            return finish(Outcome::cancelled);
        runTool();
    });
}

void Verification::runTool()
{
    m_run = ToolRun::transcodeJXLtoJPEG(m_converted, m_temporary, m_customDjxlPath, this);
    connect(m_run, &ToolRun::finished, this, [this](ToolRun::Outcome outcome) {
        if (outcome == ToolRun::Outcome::cancelled || m_cancelled) {
            finish(Outcome::cancelled);
            return;
        }
        if (outcome == ToolRun::Outcome::failed) {
            finish(Outcome::failed, m_run->error());
            return;
        }
        // Hashing may take long on big photos: keep it off this thread.
        whenReady(this, QtConcurrent::run(&Verifier::compareRebuilt, m_original, m_temporary, m_originalDigest),
            [this](std::optional<JXLError> error) {
                if (m_cancelled)
                    finish(Outcome::cancelled);
                else
                    finish(error ? Outcome::failed : Outcome::passed, std::move(error));
            });
    });
    m_run->start();
}

void Verification::cancel()
{
    if (m_finished)
        return;
    m_cancelled = true;
    if (m_run)
        m_run->cancel();
}

void Verification::finish(Outcome outcome, std::optional<JXLError> error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_outcome = outcome;
    m_error = std::move(error);
    removeCopy();
    Q_EMIT finished(outcome);
}

void Verification::removeCopy()
{
    if (!m_temporary.isEmpty())
        QFile::remove(m_temporary);
    if (!m_folder.isEmpty())
        ::rmdir(QFile::encodeName(m_folder).constData());
    m_temporary.clear();
    m_folder.clear();
}
