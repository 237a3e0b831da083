#pragma once

#include "launchrequest.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

#include <functional>

// One window per session. The first process owns the application id on the session bus and
// exports org.freedesktop.Application; a later launch hands its request over and exits.
// Requests (the process's own and handed-over ones) wait in order until a receiver is set,
// so nothing that arrives before the window is ready is lost.
class SingleInstance final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SingleInstance)
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    enum class Role {
        primary,   // owns the id; requests arrive here
        secondary, // another process owns it: hand over and exit
        alone,     // no session bus: runs by itself
    };

    static const QString serviceName;
    static const QString objectPath;
    // Actions of ActivateAction that show a direction.
    static const QString compressAction;
    static const QString restoreAction;

    // A receiver gets the request and the sender's platform data (activation token and such).
    using Receiver = std::function<void(const LaunchRequest &, const QVariantMap &)>;

    explicit SingleInstance(const QDBusConnection &bus = QDBusConnection::sessionBus(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // Tries to own the id; call once, before the event loop runs.
    Role claim();
    Role role() const { return m_role; }

    // From a secondary: hands the request to the owner and asks it to raise its window.
    // Waits up to a few seconds for each answer in a local event loop (this process shows no window).
    bool forward(const LaunchRequest &request, const QVariantMap &platformData = {});

    // Queues a request as if it had arrived (the process's own launch arguments).
    void deliver(const LaunchRequest &request, const QVariantMap &platformData = {});
    // Hands the queued requests over, then each new one as it arrives. The context ends it.
    void setReceiver(QObject *context, Receiver receiver);

    // The platform data a launch passes on: the desktop's activation token or startup id.
    static QVariantMap currentPlatformData();

public Q_SLOTS:
    // org.freedesktop.Application
    Q_SCRIPTABLE void Activate(const QVariantMap &platform_data);
    Q_SCRIPTABLE void Open(const QStringList &uris, const QVariantMap &platform_data);
    Q_SCRIPTABLE void ActivateAction(const QString &action_name, const QVariantList &parameter,
                                     const QVariantMap &platform_data);

private:
    void flush();

    struct Pending
    {
        LaunchRequest request;
        QVariantMap platformData;
    };

    QDBusConnection m_bus;
    Role m_role = Role::alone;
    bool m_claimed = false;
    QList<Pending> m_pending;
    QPointer<QObject> m_context;
    Receiver m_receiver;
};
