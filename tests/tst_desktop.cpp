#include "app/launcherprogress.h"
#include "app/notificationmanager.h"
#include "platform/sleepinhibitor.h"
#include "platform/soundplayer.h"
#include "fakedesktop.h"
#include "testenv.h"
#include "version.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>


namespace {

const QString reasonText = QStringLiteral("Pikora正在批量处理照片");
const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString portal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString logind = QStringLiteral("org.freedesktop.login1");

QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("not connected"));
}

} // namespace

class TestDesktop final : public QObject
{
    Q_OBJECT

    QDBusConnection m_fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
    std::unique_ptr<FakeDesktop> m_desktop;
    QList<QVariantMap> m_launcherUpdates;

    QList<QVariantList> closed() const
    {
        return m_desktop->calls.value(QStringLiteral("org.freedesktop.portal.Request.Close"));
    }

public slots:
    // The launcher-entry signals addressed to this application's desktop file.
    void onLauncherUpdate(const QString &appUri, const QVariantMap &properties)
    {
        if (appUri == QStringLiteral("application://" PIKORA_APP_ID ".desktop"))
            m_launcherUpdates.append(properties);
    }

private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected() || !m_fake.isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        QVERIFY(m_fake.connect(QString(), QStringLiteral("/io/gitlab/tolvane/Pikora/LauncherEntry"),
                               QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"), this,
                               SLOT(onLauncherUpdate(QString,QVariantMap))));
    }

    void init()
    {
        m_launcherUpdates.clear();
        m_desktop = std::make_unique<FakeDesktop>();
        QVERIFY(m_fake.registerVirtualObject(QStringLiteral("/"), m_desktop.get(), QDBusConnection::SubPath));
    }

    void cleanup()
    {
        for (const QString &service : {notifications, portal, logind})
            m_fake.unregisterService(service);
        m_fake.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        m_desktop.reset();
    }

    // Savings that are none (the photos grew) go unmentioned; a restore has none to report.
    void notificationTexts()
    {
        QCOMPARE(completionNotificationBody(ConversionMode::jpegToJXL, 1, -500, 0), QStringLiteral("已完成 1 张照片无损压缩"));
        QCOMPARE(completionNotificationBody(ConversionMode::jxlToJPEG, 4, 9000, 0), QStringLiteral("已成功还原 4 张照片为原始 JPEG"));
    }

    void notificationReachesTheServer()
    {
        QVERIFY(m_fake.registerService(notifications));
        NotificationManager manager;
        bool active = true;
        manager.setApplicationActiveProvider([&active] { return active; });
        // Nothing while the application is active, nor for a batch where nothing ended; a failure alone is news.
        manager.sendCompletionNotification(ConversionMode::jpegToJXL, 3, 0, 0);
        active = false;
        manager.sendCompletionNotification(ConversionMode::jxlToJPEG, 0, 0, 0);
        manager.checkServer();
        manager.sendCompletionNotification(ConversionMode::jxlToJPEG, 0, 0, 1);
        manager.sendCompletionNotification(ConversionMode::jpegToJXL, 2, 1500, 1);
        const QList<QVariantList> &posted = m_desktop->calls[QStringLiteral("org.freedesktop.Notifications.Notify")];
        QTRY_COMPARE(posted.size(), 2);
        const QString path = QStringLiteral("/org/freedesktop/Notifications");
        QCOMPARE(m_desktop->calls.value(QStringLiteral("org.freedesktop.Notifications.GetCapabilities")),
                 QList<QVariantList>{{path}});
        const QString appId = QStringLiteral(PIKORA_APP_ID);
        const QVariantMap hints{{QStringLiteral("desktop-entry"), appId},
                                {QStringLiteral("sound-name"), QStringLiteral("complete")}};
        QCOMPARE(posted.at(1), (QVariantList{path, QStringLiteral("Pikora"), 0u, appId, QStringLiteral("Pikora · 照片瘦身完成"),
                                             QStringLiteral("已完成 2 张照片无损压缩，累计节省 2 KB（1 个项目失败）"),
                                             QStringList(), hints, -1}));
    }

    void launcherProgress()
    {
        for (const auto &[completed, total, progress] : {std::tuple(2, 4, 0.5), std::tuple(7, 5, 1.0), std::tuple(-1, 3, 0.0)}) {
            m_launcherUpdates.clear();
            LauncherProgress launcher;
            QSignalSpy changes(&launcher, &LauncherProgress::changed);
            const QString text = QStringLiteral("%1/%2").arg(completed).arg(total);
            launcher.reset();
            launcher.update(completed, total);
            QCOMPARE(launcher.progress(), progress);
            QCOMPARE(launcher.text(), text);
            QVERIFY(launcher.isShowing());
            // A zero total hides the progress, keeping the figures; reset() then announces nothing.
            launcher.update(3, 0);
            launcher.reset();
            QVERIFY(!launcher.isShowing());
            QCOMPARE(launcher.text(), text);
            QCOMPARE(changes.size(), 2);
            QTRY_COMPARE(m_launcherUpdates.size(), 2);
            QCOMPARE(m_launcherUpdates, (QList<QVariantMap>{{{QStringLiteral("progress"), progress},
                                                             {QStringLiteral("progress-visible"), true}},
                                                            {{QStringLiteral("progress-visible"), false}}}));
        }
    }

    void soundOutputDetection()
    {
        // A sound server's socket or an ALSA playback device; capture devices do not count.
        QTemporaryDir dir;
        const QString run = dir.filePath(QStringLiteral("run"));
        const QString snd = dir.filePath(QStringLiteral("snd"));
        TestEnv::writeAll(run + QStringLiteral("/pulse/pid"), {});
        TestEnv::writeAll(snd + QStringLiteral("/pcmC0D0c"), {});
        QVERIFY(!hasSoundOutput(run, snd));
        TestEnv::writeAll(snd + QStringLiteral("/pcmC0D3p"), {});
        QVERIFY(hasSoundOutput(QString(), snd));
        TestEnv::writeAll(run + QStringLiteral("/pulse/native"), {});
        QVERIFY(hasSoundOutput(run, dir.filePath(QStringLiteral("missing"))));
    }

    void portalHoldsUntilReleased()
    {
        QVERIFY(m_fake.registerService(portal));
        SleepInhibitor inhibitor(QDBusConnection::sessionBus(), noBus());
        inhibitor.acquire(reasonText);
        QCOMPARE(inhibitor.state(), SleepInhibitor::State::requesting);
        inhibitor.acquire(reasonText);
        QTRY_VERIFY(inhibitor.isHeld());
        inhibitor.acquire(reasonText);
        // Asked once: suspend only (flag 4), no window, with the reason.
        QCOMPARE(m_desktop->calls.value(QStringLiteral("org.freedesktop.portal.Inhibit.Inhibit")),
                 (QList<QVariantList>{{QStringLiteral("/org/freedesktop/portal/desktop"), QString(), 4u,
                                       QVariantMap{{QStringLiteral("reason"), reasonText}}}}));
        QVERIFY(closed().isEmpty());
        inhibitor.release();
        QCOMPARE(inhibitor.state(), SleepInhibitor::State::idle);
        QTRY_COMPARE(closed(), QList<QVariantList>{{fakeRequestPath.arg(1)}});

        // Released before the answer: the grant is closed when it comes, and nothing is held.
        inhibitor.acquire(reasonText);
        inhibitor.release();
        QTRY_COMPARE(closed(), (QList<QVariantList>{{fakeRequestPath.arg(1)}, {fakeRequestPath.arg(2)}}));
        QCOMPARE(inhibitor.state(), SleepInhibitor::State::idle);
        // Released and asked again before the answer: only the abandoned grant is closed.
        inhibitor.acquire(reasonText);
        inhibitor.release();
        inhibitor.acquire(reasonText);
        QTRY_VERIFY(inhibitor.isHeld());
        QTRY_COMPARE(closed().size(), 3);
        QCOMPARE(closed().last(), QVariantList{fakeRequestPath.arg(3)});
    }

    void sleepFallsBackToLogind()
    {
        // No portal; the fake logind stands on the private session bus as the system bus.
        QVERIFY(m_fake.registerService(logind));
        SleepInhibitor inhibitor(QDBusConnection::sessionBus(), QDBusConnection::sessionBus());
        inhibitor.acquire(reasonText);
        QTRY_VERIFY(inhibitor.isHeld());
        QCOMPARE(m_desktop->calls.value(QStringLiteral("org.freedesktop.login1.Manager.Inhibit")),
                 (QList<QVariantList>{{QStringLiteral("/org/freedesktop/login1"), QStringLiteral("sleep"),
                                       QStringLiteral("Pikora"), reasonText, QStringLiteral("block")}}));
        QTest::qWait(50); // proves that the lock stays held until released
        QVERIFY(!m_desktop->lockClosed());
        inhibitor.release();
        QTRY_VERIFY(m_desktop->lockClosed());
    }

    void nothingToAskHoldsNothing()
    {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        for (const QDBusConnection &session : {QDBusConnection::sessionBus(), noBus()}) {
            SleepInhibitor inhibitor(session, noBus());
            QSignalSpy states(&inhibitor, &SleepInhibitor::stateChanged);
            inhibitor.acquire(reasonText);
            QTRY_COMPARE(inhibitor.state(), SleepInhibitor::State::idle);
            inhibitor.release();
            QCOMPARE(states.size(), 2);
        }
    }
};

QTEST_GUILESS_MAIN(TestDesktop)
#include "tst_desktop.moc"
