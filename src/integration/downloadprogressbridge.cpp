#include "downloadprogressbridge.h"

#include "updatefeed.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUuid>

namespace {

// Idle time after which a stalled download fails; a slow but moving one never does.
constexpr int downloadIdleTimeoutMs = 60'000;

} // namespace

DownloadProgressBridge::DownloadProgressBridge(QNetworkAccessManager &network, const QUrl &url, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_url(url)
{
}

DownloadProgressBridge::~DownloadProgressBridge()
{
    stop();
}

void DownloadProgressBridge::start()
{
    m_file.setFileName(QDir::temp().filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".part")));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        m_stopped = true;
        emit failed(m_file.errorString());
        return;
    }

    QNetworkRequest request(m_url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(downloadIdleTimeoutMs);
    m_reply = m_network.get(request);
    // Progress is counted here, per arrival: QNetworkReply::downloadProgress is rate-limited
    // and would stay silent for a transfer that stalls early.
    connect(m_reply, &QNetworkReply::readyRead, this, &DownloadProgressBridge::writeArrived);
    connect(m_reply, &QNetworkReply::finished, this, &DownloadProgressBridge::finish);
}

void DownloadProgressBridge::cancel()
{
    stop();
}

void DownloadProgressBridge::writeArrived()
{
    if (m_stopped || !m_reply)
        return;
    const QByteArray data = m_reply->readAll();
    if (data.isEmpty())
        return;
    if (m_file.write(data) != data.size()) {
        const QString error = m_file.errorString();
        stop();
        emit failed(error);
        return;
    }
    m_received += data.size();
    const qint64 expected = expectedSize();
    const double fraction = expected >= 1 ? static_cast<double>(m_received) / static_cast<double>(expected) : 0.0;
    emit progress(fraction, m_received, expected);
}

qint64 DownloadProgressBridge::expectedSize() const
{
    // A compressed transfer's length counts other bytes than those that arrive here.
    const QByteArray encoding = m_reply->rawHeader("Content-Encoding").trimmed().toLower();
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (!length.isValid() || !(encoding.isEmpty() || encoding == "identity"))
        return -1;
    return length.toLongLong();
}

void DownloadProgressBridge::finish()
{
    writeArrived();
    if (m_stopped || !m_reply)
        return;
    const QString error = UpdateFeed::replyError(*m_reply);
    m_reply->deleteLater();
    m_reply = nullptr;
    m_stopped = true;
    if (error.isEmpty() && m_file.flush()) {
        m_file.close();
        emit completed(m_file.fileName());
        return;
    }
    const QString description = error.isEmpty() ? m_file.errorString() : error;
    m_file.close();
    m_file.remove();
    emit failed(description);
}

void DownloadProgressBridge::stop()
{
    m_stopped = true;
    if (m_reply) {
        // Disconnected first: the abort's own finished signal must not reach anyone.
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    if (m_file.isOpen()) {
        m_file.close();
        m_file.remove();
    }
}
