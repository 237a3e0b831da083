#include "fakedesktop.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>

#include <poll.h>
#include <unistd.h>

const QString fakeRequestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t%1");

FakeDesktop::~FakeDesktop()
{
    ::close(lockReadEnd);
}

QString FakeDesktop::introspect(const QString &) const
{
    return {};
}

bool FakeDesktop::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    const QString member = message.interface() + QLatin1Char('.') + message.member();
    QVariantList &call = calls[member].emplace_back(QVariantList{message.path()});
    for (const QVariant &argument : message.arguments())
        call.append(argument.userType() == qMetaTypeId<QDBusArgument>() ? qdbus_cast<QVariantMap>(argument) : argument);
    QDBusMessage reply = message.createReply();
    int ends[2];
    if (member == QStringLiteral("org.freedesktop.Notifications.Notify")) {
        reply << uint(calls[member].size());
    } else if (member == QStringLiteral("org.freedesktop.portal.Inhibit.Inhibit")) {
        grantedRequests.append(fakeRequestPath.arg(++inhibits));
        reply << QVariant::fromValue(QDBusObjectPath(grantedRequests.constLast()));
    } else if (member == QStringLiteral("org.freedesktop.login1.Manager.Inhibit") && ::pipe(ends) == 0) {
        lockReadEnd = ends[0];
        reply << QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]));
        ::close(ends[1]);
    }
    return connection.send(reply);
}

bool FakeDesktop::lockClosed() const
{
    pollfd entry{lockReadEnd, POLLIN, 0};
    return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLHUP);
}
