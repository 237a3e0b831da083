#include "platform/sleepinhibitor.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <poll.h>
#include <unistd.h>

namespace {

const QString reasonText = QStringLiteral("Pikora正在批量处理照片");

QDBusConnection fakeBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
}

QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("not connected"));
}

} // namespace

// The portal's Request object made for each inhibit; Close ends the inhibition.
class FakeRequest : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")

public:
    FakeRequest(QString path, QStringList *closed, QObject *parent)
        : QObject(parent), m_path(std::move(path)), m_closed(closed) {}

public slots:
    void Close() { m_closed->append(m_path); }

private:
    QString m_path;
    QStringList *m_closed;
};

class FakePortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")

public:
    QList<QVariantList> calls;
    QStringList closed;

public slots:
    QDBusObjectPath Inhibit(const QString &window, uint flags, const QVariantMap &options)
    {
        calls.append({window, flags, options});
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t%1").arg(calls.size());
        fakeBus().registerObject(path, new FakeRequest(path, &closed, this), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }
};

// Hands out the write end of a pipe; the read end sees a hang-up once every copy is closed.
class FakeLogind : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    QStringList arguments;
    int readEnd = -1;
    ~FakeLogind() override { if (readEnd >= 0) ::close(readEnd); }
    bool lockClosed() const
    {
        pollfd entry{readEnd, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLHUP);
    }

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why, const QString &mode)
    {
        arguments = {what, who, why, mode};
        int ends[2];
        if (::pipe(ends) != 0)
            return {};
        readEnd = ends[0];
        QDBusUnixFileDescriptor lock(ends[1]);
        ::close(ends[1]);
        return lock;
    }
};

class TestSleepInhibitor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void portalHoldsUntilReleased();
    void releaseBeforeTheAnswerStillCloses();
    void fallsBackToLogind();
    void nothingToAskHoldsNothing();

private:
    void servePortal();

    std::unique_ptr<FakePortal> m_portal;
    std::unique_ptr<FakeLogind> m_logind;
};

void TestSleepInhibitor::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus (run under dbus-run-session)");
    QVERIFY(fakeBus().isConnected());
}

void TestSleepInhibitor::servePortal()
{
    m_portal = std::make_unique<FakePortal>();
    QVERIFY(fakeBus().registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), m_portal.get(),
                                     QDBusConnection::ExportAllSlots));
    QVERIFY(fakeBus().registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
}

void TestSleepInhibitor::cleanup()
{
    QDBusConnection bus = fakeBus();
    bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
    bus.unregisterService(QStringLiteral("org.freedesktop.login1"));
    bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"), QDBusConnection::UnregisterTree);
    bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
    m_portal.reset();
    m_logind.reset();
}

void TestSleepInhibitor::portalHoldsUntilReleased()
{
    servePortal();
    SleepInhibitor inhibitor(QDBusConnection::sessionBus(), noBus());
    inhibitor.acquire(reasonText);
    QCOMPARE(inhibitor.state(), SleepInhibitor::State::requesting);
    inhibitor.acquire(reasonText);
    QTRY_VERIFY(inhibitor.isHeld());
    inhibitor.acquire(reasonText);

    QCOMPARE(m_portal->calls.size(), 1);
    const QVariantList call = m_portal->calls.first();
    QCOMPARE(call.at(0).toString(), QString());
    QCOMPARE(call.at(1).toUInt(), 4u);
    QCOMPARE(call.at(2).toMap(), QVariantMap({{QStringLiteral("reason"), reasonText}}));
    QVERIFY(m_portal->closed.isEmpty());

    inhibitor.release();
    QCOMPARE(inhibitor.state(), SleepInhibitor::State::idle);
    QTRY_COMPARE(m_portal->closed, QStringList{QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t1")});
}

void TestSleepInhibitor::releaseBeforeTheAnswerStillCloses()
{
    servePortal();
    SleepInhibitor inhibitor(QDBusConnection::sessionBus(), noBus());
    QSignalSpy states(&inhibitor, &SleepInhibitor::stateChanged);
    inhibitor.acquire(reasonText);
    inhibitor.release();
    QTRY_COMPARE(m_portal->closed.size(), 1);
    QCOMPARE(states.size(), 2);
    QVERIFY(!inhibitor.isHeld());

    // Released and asked again before the first answer: only the first grant is closed.
    inhibitor.acquire(reasonText);
    inhibitor.release();
    inhibitor.acquire(reasonText);
    QTRY_VERIFY(inhibitor.isHeld());
    QTRY_COMPARE(m_portal->closed.size(), 2);
    QVERIFY(m_portal->closed.last().endsWith(QStringLiteral("/t2")));

    // Destroyed while asking: the late grant is closed too.
    auto doomed = std::make_unique<SleepInhibitor>(QDBusConnection::sessionBus(), noBus());
    doomed->acquire(reasonText);
    doomed.reset();
    QTRY_COMPARE(m_portal->calls.size(), 4);
    QTRY_COMPARE(m_portal->closed.size(), 3);
    QVERIFY(m_portal->closed.last().endsWith(QStringLiteral("/t4")));
}

void TestSleepInhibitor::fallsBackToLogind()
{
    // No portal on the bus; the fake logind stands on the private session bus as the system bus.
    m_logind = std::make_unique<FakeLogind>();
    QVERIFY(fakeBus().registerObject(QStringLiteral("/org/freedesktop/login1"), m_logind.get(),
                                     QDBusConnection::ExportAllSlots));
    QVERIFY(fakeBus().registerService(QStringLiteral("org.freedesktop.login1")));

    SleepInhibitor inhibitor(QDBusConnection::sessionBus(), QDBusConnection::sessionBus());
    inhibitor.acquire(reasonText);
    QTRY_VERIFY(inhibitor.isHeld());
    QCOMPARE(m_logind->arguments, (QStringList{QStringLiteral("sleep"), QStringLiteral("Pikora"), reasonText,
                                               QStringLiteral("block")}));
    QTest::qWait(50);
    QVERIFY(!m_logind->lockClosed());

    inhibitor.release();
    QTRY_VERIFY(m_logind->lockClosed());
}

void TestSleepInhibitor::nothingToAskHoldsNothing()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
    for (const QDBusConnection &session : {QDBusConnection::sessionBus(), noBus()}) {
        SleepInhibitor inhibitor(session, noBus());
        QSignalSpy states(&inhibitor, &SleepInhibitor::stateChanged);
        inhibitor.acquire(reasonText);
        QTRY_COMPARE(inhibitor.state(), SleepInhibitor::State::idle);
        QCOMPARE(states.size(), 2);
        inhibitor.release();
        QCOMPARE(states.size(), 2);
    }
}

QTEST_GUILESS_MAIN(TestSleepInhibitor)
#include "tst_sleepinhibitor.moc"
