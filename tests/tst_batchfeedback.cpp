#include "app/batchcontroller.h"
#include "app/batchfeedback.h"
#include "app/batchrunner.h"
#include "app/launcherprogress.h"
#include "app/notificationmanager.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "fakedesktop.h"
#include "recordingfeedback.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// What the desktop is told while a batch runs, driven by the batch controller's signals alone:
// the launcher's count, the sound, the notification and the sleep inhibitor.
class TestBatchFeedback final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QDBusConnection m_fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake"_s);
    FakeDesktop m_desktop;

    QList<QVariantList> calls(const char *member) const { return m_desktop.calls.value(QLatin1String(member)); }

    static TaskItem job(TaskStatus status, qint64 saved = 0)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(u"/photos/%1.jpg"_s.arg(task.id.toString(QUuid::WithoutBraces)));
        task.status = status;
        task.originalSize = 1000;
        if (status == TaskStatus::completed)
            task.compressedSize = 1000 - saved;
        return task;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        if (!m_fake.isConnected())
            QSKIP("no session bus (run under dbus-run-session)");
        QVERIFY(m_fake.registerVirtualObject(u"/"_s, &m_desktop, QDBusConnection::SubPath));
        for (const char *service : {"org.freedesktop.Notifications", "org.freedesktop.portal.Desktop"})
            QVERIFY(m_fake.registerService(QLatin1String(service)));
    }

    void init() { TestEnv::forgetPreferences(); }

    void followsTheBatch_data()
    {
        QTest::addColumn<bool>("sound");
        QTest::addColumn<bool>("cancelled");
        QTest::newRow("finished, sound on") << true << false;
        QTest::newRow("finished, sound off") << false << false;
        QTest::newRow("cancelled") << true << true;
    }

    void followsTheBatch()
    {
        QFETCH(bool, sound);
        QFETCH(bool, cancelled);
        m_desktop.calls.clear();
        Workspace workspace;
        SettingsStore settings{HardwareInfo()};
        AppSettings chosen;
        chosen.soundFeedbackEnabled = sound;
        settings.setSettings(chosen);
        BatchController batch(workspace.compressTasks(), workspace.restoreTasks());
        BatchRunner runner(&batch, &workspace, &settings);
        LauncherProgress launcher;
        RecordingSound played;
        NotificationManager notifications;
        BatchFeedback feedback({&notifications, &launcher, &played, false}, &batch, &runner, &workspace, &settings);
        // Two converted (one of them reused, saving nothing), one skipped, one failed, one waiting.
        const QList<TaskItem> tasks{job(TaskStatus::completed, 400), job(TaskStatus::completed), job(TaskStatus::skipped),
                                    job(TaskStatus::failed), job(TaskStatus::pending)};
        workspace.compressTasks()->append(tasks);

        Q_EMIT batch.started(ConversionMode::jpegToJXL);
        QTRY_COMPARE(calls("org.freedesktop.portal.Inhibit.Inhibit").size(), 1);
        Q_EMIT batch.jobFinished(tasks.at(3), false); // of a batch no longer running: nothing shown
        QVERIFY(!launcher.isShowing());
        Q_EMIT batch.jobFinished(tasks.at(3), true);
        QCOMPARE(launcher.text(), u"4/5"_s); // skipped and failed jobs are done too
        if (cancelled)
            runner.cancel();
        else
            Q_EMIT batch.finished(ConversionMode::jpegToJXL);

        QVERIFY(!launcher.isShowing());
        QTRY_COMPARE(calls("org.freedesktop.portal.Request.Close").size(), 1); // the machine may sleep again
        QCOMPARE(played.played, sound && !cancelled ? 1 : 0);
        if (cancelled) {
            QTest::qWait(100); // proves that a cancelled batch posts no notification
            QVERIFY(calls("org.freedesktop.Notifications.Notify").isEmpty());
            return;
        }
        QTRY_COMPARE(calls("org.freedesktop.Notifications.Notify").size(), 1);
        // Only converted photos count as converted: the skipped one does not.
        QCOMPARE(calls("org.freedesktop.Notifications.Notify").first().at(5), QVariant(u"已完成 2 张照片无损压缩，累计节省 400 字节（1 个项目失败）"_s));
    }
};

QTEST_GUILESS_MAIN(TestBatchFeedback)
#include "tst_batchfeedback.moc"
