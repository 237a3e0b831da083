#pragma once

#include <QFile>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// One update download: streams the body into a private file in the temporary folder and turns
// the transfer's events into three signals. A cancelled download reports nothing.
class DownloadProgressBridge final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DownloadProgressBridge)

public:
    DownloadProgressBridge(QNetworkAccessManager &network, const QUrl &url, QObject *parent = nullptr);
    // Stops a transfer that still runs and removes its unfinished file.
    ~DownloadProgressBridge() override;

    // Separate from construction so callers can connect first; may fail at once.
    void start();
    void cancel();

signals:
    // fraction is 0.0 while expected is unknown (negative) or zero.
    void progress(double fraction, qint64 received, qint64 expected);
    // The whole body is in privateCopy, which now belongs to the receiver.
    void completed(const QString &privateCopy);
    void failed(const QString &description);

private:
    void writeArrived();
    void finish();
    void stop();
    // Content-Length, or -1 when the size is unknown.
    qint64 expectedSize() const;

    QNetworkAccessManager &m_network;
    QUrl m_url;
    QPointer<QNetworkReply> m_reply;
    QFile m_file;
    qint64 m_received = 0;
    bool m_stopped = false;
};
