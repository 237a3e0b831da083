#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server inside the test process, plain or TLS, answering GET requests with
// canned responses by path. Every connection is closed after its answer.
class TestHttpServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestHttpServer)

public:
    struct Response
    {
        enum class Delivery {
            complete,      // status, headers with Content-Length, body
            withoutLength, // no Content-Length: the body in two parts, the end marked by closing
            stallHalfway,  // Content-Length, then half the body, then nothing more
            never,         // the request is read and never answered
        };
        int status = 200;
        QByteArray body;
        QList<QPair<QByteArray, QByteArray>> headers;
        Delivery delivery = Delivery::complete;
    };
    struct Request
    {
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
    };

    static Response json(const QByteArray &body);
    static Response status(int code);
    static Response redirect(const QUrl &target);
    static Response file(const QByteArray &body, Response::Delivery delivery = Response::Delivery::complete);

    // Trusts the test certificate (tests/data/tls) for every TLS connection of this process.
    static void trustTestCertificate();

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 on a free port; tls serves https with the test certificate.
    bool listen(bool tls = false);
    QUrl url(const QString &path) const;
    // Unknown paths get 404.
    void setResponse(const QByteArray &path, const Response &response);
    QList<Request> requests() const;
    QList<QByteArray> requestedPaths() const;

private:
    void accept();
    void readRequest(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Response &response);

    QTcpServer *m_server = nullptr;
    bool m_tls = false;
    QHash<QByteArray, Response> m_responses;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_pending;
};
