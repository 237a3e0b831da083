#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server inside the test process, plain or TLS, answering each GET with a canned
// response by path (404 for unknown paths) and closing the connection after it.
class TestHttpServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    // withoutLength ends the body by closing; stallHalfway sends half the body and then nothing.
    enum class Delivery { complete, withoutLength, stallHalfway };
    struct Response
    {
        Response(int status = 200, const QByteArray &body = {}, Delivery delivery = Delivery::complete, const QByteArray &location = {})
            : status(status), body(body), delivery(delivery), location(location) { }
        int status;
        QByteArray body;
        Delivery delivery;
        QByteArray location; // sent as Location when not empty
    };

    using QObject::QObject;

    // Listens on 127.0.0.1 on a free port. tls serves https with the certificate in tests/data/tls,
    // which becomes the only one TLS clients of this process trust.
    bool listen(bool tls = false);
    QUrl url(const QString &path) const;
    void setResponse(const QByteArray &path, const Response &response);
    // Request line and headers of each request, in arrival order.
    QList<QByteArray> requests() const;
    QList<QByteArray> requestedPaths() const;

private:
    void readRequest(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QHash<QByteArray, Response> m_responses;
    QList<QByteArray> m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
