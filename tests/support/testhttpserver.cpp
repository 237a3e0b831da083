#include "testhttpserver.h"

#include "testenv.h"

#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    default: return "Status";
    }
}

QSslCertificate testCertificate()
{
    return QSslCertificate(TestEnv::readAll(TestEnv::dataPath(QStringLiteral("tls/localhost.crt"))), QSsl::Pem);
}

} // namespace

TestHttpServer::Response TestHttpServer::json(const QByteArray &body)
{
    Response response;
    response.body = body;
    response.headers.append({QByteArray("Content-Type"), QByteArray("application/json")});
    return response;
}

TestHttpServer::Response TestHttpServer::status(int code)
{
    Response response;
    response.status = code;
    response.body = "error page";
    return response;
}

TestHttpServer::Response TestHttpServer::redirect(const QUrl &target)
{
    Response response;
    response.status = 302;
    response.headers.append({QByteArray("Location"), QByteArray(target.toEncoded())});
    return response;
}

TestHttpServer::Response TestHttpServer::file(const QByteArray &body, Response::Delivery delivery)
{
    Response response;
    response.body = body;
    response.headers.append({QByteArray("Content-Type"), QByteArray("application/octet-stream")});
    response.delivery = delivery;
    return response;
}

void TestHttpServer::trustTestCertificate()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(testCertificate());
    QSslConfiguration::setDefaultConfiguration(configuration);
}

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
{
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::listen(bool tls)
{
    m_tls = tls;
    if (tls) {
        auto *server = new QSslServer(this);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(testCertificate());
        configuration.setPrivateKey(QSslKey(TestEnv::readAll(TestEnv::dataPath(QStringLiteral("tls/localhost.key"))),
                                            QSsl::Ec, QSsl::Pem));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(configuration);
        m_server = server;
    } else {
        m_server = new QTcpServer(this);
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, &TestHttpServer::accept);
    return m_server->listen(QHostAddress::LocalHost);
}

QUrl TestHttpServer::url(const QString &path) const
{
    const QString scheme = m_tls ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(scheme + QStringLiteral("://127.0.0.1:") + QString::number(m_server->serverPort()) + path);
}

void TestHttpServer::setResponse(const QByteArray &path, const Response &response)
{
    m_responses.insert(path, response);
}

QList<TestHttpServer::Request> TestHttpServer::requests() const
{
    return m_requests;
}

QList<QByteArray> TestHttpServer::requestedPaths() const
{
    QList<QByteArray> paths;
    for (const Request &request : m_requests)
        paths.append(request.path);
    return paths;
}

void TestHttpServer::accept()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        m_pending.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_pending.remove(socket);
            socket->deleteLater();
        });
        readRequest(socket);
    }
}

void TestHttpServer::readRequest(QTcpSocket *socket)
{
    if (!m_pending.contains(socket))
        return;
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    m_pending.remove(socket);

    Request request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.path = requestLine.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
    }
    m_requests.append(request);

    const auto known = m_responses.constFind(request.path);
    answer(socket, known != m_responses.cend() ? *known : status(404));
}

void TestHttpServer::answer(QTcpSocket *socket, const Response &response)
{
    using Delivery = Response::Delivery;
    if (response.delivery == Delivery::never)
        return;

    QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + reasonPhrase(response.status) + "\r\n";
    for (const auto &[name, value] : response.headers)
        head += name + ": " + value + "\r\n";
    if (response.delivery != Delivery::withoutLength)
        head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";

    const qsizetype half = response.body.size() / 2;
    switch (response.delivery) {
    case Delivery::complete:
        socket->write(head + response.body);
        socket->disconnectFromHost();
        break;
    case Delivery::stallHalfway:
        socket->write(head + response.body.left(half));
        break;
    case Delivery::withoutLength:
        socket->write(head + response.body.left(half));
        // The second part later, so the client sees progress before the end.
        QTimer::singleShot(100, socket, [socket, rest = response.body.mid(half)] {
            socket->write(rest);
            socket->disconnectFromHost();
        });
        break;
    case Delivery::never:
        break;
    }
}
