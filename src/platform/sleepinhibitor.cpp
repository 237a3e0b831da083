#include "sleepinhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString logindService = QStringLiteral("org.freedesktop.login1");
// The portal's flag for "suspend"; logout, user switch and idle stay allowed.
constexpr uint portalInhibitSuspend = 4;

void closePortalRequest(const QDBusConnection &bus, const QDBusObjectPath &handle)
{
    bus.send(QDBusMessage::createMethodCall(portalService, handle.path(), QStringLiteral("org.freedesktop.portal.Request"),
                                            QStringLiteral("Close")));
}

} // namespace

SleepInhibitor::SleepInhibitor(QObject *parent)
    : SleepInhibitor(QDBusConnection::sessionBus(), QDBusConnection::systemBus(), parent)
{
}

SleepInhibitor::SleepInhibitor(const QDBusConnection &sessionBus, const QDBusConnection &systemBus, QObject *parent)
    : QObject(parent)
    , m_sessionBus(sessionBus)
    , m_systemBus(systemBus)
{
}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

SleepInhibitor::State SleepInhibitor::state() const
{
    return m_state;
}

bool SleepInhibitor::isHeld() const
{
    return m_state == State::held;
}

void SleepInhibitor::acquire(const QString &reason)
{
    if (m_state != State::idle)
        return;
    const quint64 request = ++m_request;
    m_reason = reason;
    setState(State::requesting);
    if (!m_sessionBus.isConnected()) {
        askLogind(request);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                      QStringLiteral("org.freedesktop.portal.Inhibit"),
                                                      QStringLiteral("Inhibit"));
    call << QString() << portalInhibitSuspend << QVariantMap{{QStringLiteral("reason"), reason}};
    // The watcher outlives this object if need be, so a grant that arrives after it is gone
    // is still closed.
    auto *watcher = new QDBusPendingCallWatcher(m_sessionBus.asyncCall(call));
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
            [self = QPointer(this), bus = m_sessionBus, watcher, request] {
                watcher->deleteLater();
                if (self)
                    self->portalAnswered(*watcher, request);
                else if (const QDBusPendingReply<QDBusObjectPath> reply = *watcher; !reply.isError())
                    closePortalRequest(bus, reply.value());
            });
}

void SleepInhibitor::askLogind(quint64 request)
{
    if (!m_systemBus.isConnected()) {
        setState(State::idle);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(logindService, QStringLiteral("/org/freedesktop/login1"),
                                                      QStringLiteral("org.freedesktop.login1.Manager"),
                                                      QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Pikora") << m_reason << QStringLiteral("block");
    // A descriptor granted after this object is gone closes with the reply.
    auto *watcher = new QDBusPendingCallWatcher(m_systemBus.asyncCall(call));
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [self = QPointer(this), watcher, request] {
        watcher->deleteLater();
        if (self)
            self->logindAnswered(*watcher, request);
    });
}

void SleepInhibitor::portalAnswered(const QDBusPendingCall &call, quint64 request)
{
    const QDBusPendingReply<QDBusObjectPath> reply = call;
    const bool current = request == m_request && m_state == State::requesting;
    if (reply.isError()) {
        if (current)
            askLogind(request);
        return;
    }
    if (!current) {
        // Released (or released and asked again) before the portal answered.
        closePortalRequest(m_sessionBus, reply.value());
        return;
    }
    m_portalHandle = reply.value();
    setState(State::held);
}

void SleepInhibitor::logindAnswered(const QDBusPendingCall &call, quint64 request)
{
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = call;
    // An abandoned answer's descriptor closes when reply goes out of scope.
    if (request != m_request || m_state != State::requesting)
        return;
    if (reply.isError() || !reply.value().isValid()) {
        setState(State::idle);
        return;
    }
    m_logindLock = reply.value();
    setState(State::held);
}

void SleepInhibitor::release()
{
    if (m_state == State::idle)
        return;
    if (!m_portalHandle.path().isEmpty())
        closePortalRequest(m_sessionBus, m_portalHandle);
    m_portalHandle = QDBusObjectPath();
    // logind drops the inhibitor when the last copy of its descriptor is closed.
    m_logindLock = QDBusUnixFileDescriptor();
    setState(State::idle);
}

void SleepInhibitor::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}
