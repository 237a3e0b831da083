#include "testhttpserver.h"

#include "testenv.h"

#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>

bool TestHttpServer::listen(bool tls)
{
    m_server = tls ? new QSslServer(this) : new QTcpServer(this);
    if (auto *server = qobject_cast<QSslServer *>(m_server)) {
        const QSslCertificate certificate(TestEnv::readAll(TestEnv::dataPath(QStringLiteral("tls/localhost.crt"))));
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setCaCertificates({certificate}); // the only authority tests need
        QSslConfiguration::setDefaultConfiguration(configuration);
        configuration.setLocalCertificate(certificate);
        configuration.setPrivateKey(QSslKey(TestEnv::readAll(TestEnv::dataPath(QStringLiteral("tls/localhost.key"))), QSsl::Ec));
        server->setSslConfiguration(configuration);
    }
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequest(socket); });
            readRequest(socket); // a TLS request may have come with the handshake
        }
    });
    return m_server->listen(QHostAddress::LocalHost);
}

QUrl TestHttpServer::url(const QString &path) const
{
    const QString scheme = QLatin1String(qobject_cast<QSslServer *>(m_server) ? "https" : "http");
    return QUrl(scheme + QStringLiteral("://127.0.0.1:") + QString::number(m_server->serverPort()) + path);
}

void TestHttpServer::setResponse(const QByteArray &path, const Response &response)
{
    m_responses.insert(path, response);
}

QList<QByteArray> TestHttpServer::requests() const
{
    return m_requests;
}

QList<QByteArray> TestHttpServer::requestedPaths() const
{
    QList<QByteArray> paths;
    for (const QByteArray &head : m_requests)
        paths.append(head.split(' ').value(1));
    return paths;
}

void TestHttpServer::readRequest(QTcpSocket *socket)
{
    QByteArray &buffer = m_pending[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray head = m_pending.take(socket).left(end);
    m_requests.append(head);

    const Response response = m_responses.value(head.split(' ').value(1), Response(404, "error page"));
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(response.status) + " Canned\r\nConnection: close\r\n";
    if (!response.location.isEmpty())
        answer += "Location: " + response.location + "\r\n";
    if (response.delivery != Delivery::withoutLength)
        answer += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    const bool stall = response.delivery == Delivery::stallHalfway;
    socket->write(answer + "\r\n" + (stall ? response.body.left(response.body.size() / 2) : response.body));
    if (!stall)
        socket->disconnectFromHost();
}
