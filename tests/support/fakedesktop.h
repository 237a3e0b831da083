#pragma once

#include <QDBusVirtualObject>
#include <QStringList>
#include <QMap>
#include <QVariantList>

// Portal requests the fake hands out: "/org/freedesktop/portal/desktop/request/1_1/t<n>".
extern const QString fakeRequestPath;

// Plays the desktop's services (notification server, portal, logind) at every object path of
// a connection of its own: records each call and answers it as the service would. logind's
// lock is a pipe's write end: the read end sees a hang-up once every copy is closed.
class FakeDesktop final : public QDBusVirtualObject
{
public:
    // By "interface.member": each call's object path, then its arguments.
    QMap<QString, QList<QVariantList>> calls;
    int inhibits = 0;
    // The portal requests handed out, by object path.
    QStringList grantedRequests;
    int lockReadEnd = -1;

    ~FakeDesktop() override;
    QString introspect(const QString &) const override;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override;
    // Whether every copy of the logind lock has been closed.
    bool lockClosed() const;
};
