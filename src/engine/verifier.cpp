#include "verifier.h"

#include "toolrun.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QUuid>
#include <QtConcurrent>

namespace Verifier {

std::optional<QString> sha256(const QString &path, QString *errorText)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = file.errorString() + QStringLiteral(": ") + path;
        return std::nullopt;
    }
    constexpr qint64 kChunk = 1024 * 1024;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), kChunk);
        if (read < 0) {
            if (errorText)
                *errorText = file.errorString() + QStringLiteral(": ") + path;
            return std::nullopt;
        }
        if (read == 0)
            break;
        hash.addData(QByteArrayView(buffer.constData(), read));
    }
    return QString::fromLatin1(hash.result().toHex());
}

QString temporaryFilePath()
{
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return QDir(QDir::tempPath()).filePath(QStringLiteral("verify_") + uuid + QStringLiteral(".jpg"));
}

std::optional<JXLError> compareRebuilt(const QString &originalJPEG, const QString &rebuiltJPEG)
{
    if (!QFileInfo::exists(rebuiltJPEG))
        return JXLError::verificationFailed(QStringLiteral("未能生成校验临时文件"));

    QString error;
    const std::optional<QString> original = sha256(originalJPEG, &error);
    if (!original)
        return JXLError::platform(error);
    const std::optional<QString> rebuilt = sha256(rebuiltJPEG, &error);
    if (!rebuilt)
        return JXLError::platform(error);
    if (*original == *rebuilt)
        return std::nullopt;

    const QFileInfo originalInfo(originalJPEG);
    const QFileInfo rebuiltInfo(rebuiltJPEG);
    if (!originalInfo.exists() || !rebuiltInfo.exists())
        return JXLError::verificationFailed(QStringLiteral("无法读取文件属性"));
    return JXLError::verificationFailed(QStringLiteral("哈希比对不一致 (原文件: ") + original->left(8)
                                        + QStringLiteral("..., 还原: ") + rebuilt->left(8) + QStringLiteral("...)"));
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
    if (!m_temporary.isEmpty())
        QFile::remove(m_temporary);
}

void Verification::start()
{
    m_temporary = Verifier::temporaryFilePath();
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
        QtConcurrent::run(&Verifier::compareRebuilt, m_original, m_temporary)
            .then(this, [this](std::optional<JXLError> error) {
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
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    Q_EMIT finished(outcome);
}
