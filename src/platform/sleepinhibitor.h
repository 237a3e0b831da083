#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>

class QDBusPendingCall;

// Keeps the system from suspending while held: the desktop portal's Inhibit (suspend only,
// the screen may still blank), else logind's "sleep" block inhibitor. Every call is
// asynchronous; where neither service exists nothing is held and nothing is reported.
class SleepInhibitor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SleepInhibitor)

public:
    enum class State { idle, requesting, held };
    Q_ENUM(State)

    // Uses the session bus for the portal and the system bus for logind.
    explicit SleepInhibitor(QObject *parent = nullptr);
    // A disconnected bus skips its service.
    SleepInhibitor(const QDBusConnection &sessionBus, const QDBusConnection &systemBus, QObject *parent = nullptr);
    ~SleepInhibitor() override;

    // Asks for the inhibitor unless one is held or requested already.
    void acquire(const QString &reason);
    // Gives it up; one still being requested is given up as soon as it is granted.
    void release();

    State state() const;
    bool isHeld() const;

signals:
    void stateChanged(SleepInhibitor::State state);

private:
    void askLogind(quint64 request);
    void portalAnswered(const QDBusPendingCall &call, quint64 request);
    void logindAnswered(const QDBusPendingCall &call, quint64 request);
    void setState(State state);

    QDBusConnection m_sessionBus;
    QDBusConnection m_systemBus;
    State m_state = State::idle;
    // Numbers each acquire, so an answer to an abandoned request can be told apart.
    quint64 m_request = 0;
    QString m_reason;
    QDBusObjectPath m_portalHandle;
    QDBusUnixFileDescriptor m_logindLock;
};
