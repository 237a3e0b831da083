#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/launcherprogress.h"
#include "app/importservice.h"
#include "app/lifetimestats.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "fakedesktop.h"
#include "fakeencoder.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"
#include "recordingfeedback.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QStringList names(const QString &stem, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(stem + QString::number(i) + QStringLiteral(".jpg"));
    return out;
}

} // namespace

// Batches run through AppState with fake encoders that record what ran when: the window, the
// list changing under a batch, cancels, retries and an output disk that comes and goes.
class TestBatch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work; // one folder per test: the fake tool, its log, running/ and photos/
    std::unique_ptr<LauncherProgress> m_launcher;
    RecordingSound m_sound;
    // A desktop portal on the suite's private bus, to see the sleep inhibitor taken and given back.
    QDBusConnection m_fake = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
    FakeDesktop m_portal;

    int portalCalls(const char *member) const
    {
        return int(m_portal.calls.value(QLatin1String(member)).size());
    }

    // Closes of the requests this test was granted: an earlier test's state, gone with a request
    // still on its way, closes that one when the answer comes, which can be during this test.
    int closedRequests() const
    {
        int closed = 0;
        for (const QVariantList &call : m_portal.calls.value(QStringLiteral("org.freedesktop.portal.Request.Close")))
            closed += m_portal.grantedRequests.contains(call.first().toString()) ? 1 : 0;
        return closed;
    }

    std::unique_ptr<AppState> launch(const QByteArray &toolBody, int jobs, const AppSettings &settings = AppSettings(),
                                     FakeEncoder::OnTerm onTerm = FakeEncoder::OnTerm::exits)
    {
        auto state = std::make_unique<AppState>(BatchFeedback::Devices{nullptr, m_launcher.get(), &m_sound, false});
        state->settings()->setSettings(settings); // by default: keep the originals, so nothing is verified
        RunOverrides overrides;
        overrides.jobs = jobs;
        if (!toolBody.isEmpty())
            overrides.customCjxlPath = FakeEncoder::write(m_work, toolBody, onTerm);
        state->settings()->setRunOverrides(overrides);
        if (!QTest::qWaitFor([&] { return !state->tools()->cjxlPath().isEmpty(); }, 30000))
            QTest::qFail("the start-up tool probe never came back", __FILE__, __LINE__);
        return state;
    }

    QList<TaskItem> addPhotos(AppState &state, const QStringList &files)
    {
        QList<TaskItem> tasks;
        for (const QString &name : files) {
            TaskItem task;
            task.sourceURL = QUrl::fromLocalFile(m_work + QStringLiteral("/photos/") + name);
            task.originalSize = 1000;
            TestEnv::writeAll(task.sourceURL.toLocalFile(), TestEnv::fakeJpeg(1000));
            tasks.append(task);
        }
        state.workspace()->compressTasks()->append(tasks);
        return tasks;
    }

    QStringList starts() const { return FakeEncoder::log(m_work); }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        QVERIFY(m_fake.isConnected());
        QVERIFY(m_fake.registerVirtualObject(QStringLiteral("/"), &m_portal, QDBusConnection::SubPath));
        QVERIFY(m_fake.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    void init()
    {
        TestEnv::forgetPreferences();
        m_work = m_root.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        if (const char *tag = QTest::currentDataTag())
            m_work += QLatin1Char('/') + QString::fromLatin1(tag).replace(QLatin1Char(' '), QLatin1Char('_'));
        m_launcher = std::make_unique<LauncherProgress>();
        m_sound.played = 0;
        m_portal.calls.clear();
        m_portal.grantedRequests.clear();
    }

    // Twenty jobs, four at a time: each runs once, in parallel but within the window; each that
    // saved is counted at once and stored behind; and a job added meanwhile that no disk could
    // take has its follow-up refused. (The launcher and the sound: tst_batchfeedback.)
    void windowCountersAndRefusedFollowUp()
    {
        // "big" gets an output larger than its source: it completes but saves nothing.
        auto state = launch("sleep 0.3\n" + TestEnv::writeFakeJxlCommand() + "\ncase \"$name\" in big*) head -c 5000 /dev/zero >> \"$2\" ;; esac\n",
                            4);
        addPhotos(*state, names(QStringLiteral("w"), 19) << QStringLiteral("big.jpg"));
        QList<qint64> counted; // the lifetime bytes saved, after each count
        connect(state->stats(), &LifetimeStats::changed, this, [&] { counted.append(state->stats()->savedBytes()); });
        QSignalSpy finished(state->batch(), &BatchController::finished);

        state->runner()->startCurrentProcessing();
        TaskItem huge = addPhotos(*state, {QStringLiteral("huge.jpg")}).first();
        huge.originalSize = qint64(1) << 60;
        QVERIFY(state->workspace()->compressTasks()->replace(huge));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QVERIFY(!state->runner()->isProcessing());
        const QString message = state->runner()->diskWarningMessage().value_or(QString());
        QVERIFY2(message.startsWith(QString::fromUtf8("磁盘空间不足：当前卷剩余可用空间仅 ")), qPrintable(message));
        QVERIFY(message.endsWith(QString::fromUtf8("，本批次转码预估需要约 ") + formattedBytes(huge.originalSize + 524288000)
                                 + QString::fromUtf8("。请先清理磁盘空间以防文件写入截断。")));

        QCOMPARE(starts().size(), 20); // every job ran once
        const int most = FakeEncoder::mostAtOnce(m_work);
        QVERIFY2(most <= 4 && most >= 2, qPrintable(starts().join(u';'))); // bounded, yet in parallel
        QCOMPARE(counted.size(), 19); // "big" saved nothing and was not counted
        QVERIFY(counted.first() == 1000 - TestEnv::fakeJxlSize && counted.last() == 19 * (1000 - TestEnv::fakeJxlSize)); // at once after each count
        QTRY_VERIFY(!state->stats()->isStoring()); // the file follows in the background
        QCOMPARE(Preferences().int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(counted.last()));
    }

    void listChangesDuringABatch()
    {
        // A stopped tool lingers (it ignores SIGTERM) and finishes its second of work.
        auto state = launch(FakeEncoder::slowly("1"), 2, AppSettings(), FakeEncoder::OnTerm::lingers);
        TaskList *list = state->workspace()->compressTasks();
        const QList<TaskItem> first = addPhotos(*state, names(QStringLiteral("first"), 3));
        QStringList processing; // with the sounds played so far
        connect(state->runner(), &BatchRunner::isProcessingChanged, this, [&] {
            processing.append(QLatin1String(state->runner()->isProcessing() ? "on " : "off ") + QString::number(m_sound.played));
        });
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
        state->workspace()->removeTask(first[0]); // its tool is stopped; its file stays held until it has exited

        const QString later = m_work + QStringLiteral("/later");
        for (const QString &name : names(QStringLiteral("later"), 3))
            TestEnv::writeAll(later + QLatin1Char('/') + name, TestEnv::fakeJpeg(1000));
        QSignalSpy imported(state->imports(), &ImportService::importFinished);
        // The removed job's file comes back too, but its tool still runs: it is not added again.
        state->imports()->importURLs({QUrl::fromLocalFile(later), first[0].sourceURL});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 1, 30000);
        QCOMPARE(imported.at(0).at(0).toInt(), 3);
        QVERIFY(state->runner()->isProcessing()); // imported while the first batch runs

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        // The imported jobs ran as a follow-up of the same batch: processing throughout, and the
        // one sound only after it ended.
        QCOMPARE(processing.join(QLatin1Char(',')), QStringLiteral("on 0,off 0"));
        QCOMPARE(m_sound.played, 1);
        QCOMPARE(list->size(), 5);
        QCOMPARE(list->count(TaskStatus::completed), 5);
        QCOMPARE(starts().size(), 6);
        QCOMPARE(m_launcher->text(), QStringLiteral("5/5"));
        QCOMPARE(state->stats()->processedCount(), 5); // the removed job was stopped before it saved anything
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/photos/first0.jxl")));
        QVERIFY(QFileInfo::exists(first[0].sourceURL.toLocalFile()));
        // One sleep inhibitor held across the follow-up, given back at the end.
        QCOMPARE(portalCalls("org.freedesktop.portal.Inhibit.Inhibit"), 1);
        QTRY_COMPARE(closedRequests(), 1);
    }

    void cancelDuringBatch()
    {
        // p0 is quick, so the launcher shows progress before the cancel; the others take long.
        auto state = launch("[ \"$name\" = p0.jpg ] || sleep 3 >/dev/null 2>&1\n" + TestEnv::writeFakeJxlCommand() + "\n", 2);
        const QList<TaskItem> tasks = addPhotos(*state, names(QStringLiteral("p"), 5));
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 3, 30000); // p0 done, p1 and p2 running
        QTRY_VERIFY_WITH_TIMEOUT(m_launcher->isShowing(), 30000);

        QTRY_COMPARE(portalCalls("org.freedesktop.portal.Inhibit.Inhibit"), 1);
        state->runner()->cancel();
        QVERIFY(!state->runner()->isProcessing() && !m_launcher->isShowing());
        QTRY_COMPARE(closedRequests(), 1); // a cancel lets the machine sleep
        TaskList *list = state->workspace()->compressTasks();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(TaskStatus::pending), 4, 30000);
        QTest::qWait(500); // proves that no queued job starts after the cancel
        QCOMPARE(starts().size(), 3);
        for (int i = 1; i < 5; ++i)
            QVERIFY(!list->find(tasks[i].id)->destinationURL && !list->find(tasks[i].id)->compressedSize);
        // The sources and p0's output; nothing half-written, hidden or not.
        QStringList expected = names(QStringLiteral("p"), 5) << QStringLiteral("p0.jxl");
        expected.sort();
        QCOMPARE(QDir(m_work + QStringLiteral("/photos")).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        QVERIFY(finished.isEmpty() && m_sound.played == 0);
    }

    void startRightAfterCancel()
    {
        // Tools that ignore SIGTERM linger until killed after the grace period, past the new start.
        auto state = launch(FakeEncoder::slowly("4"), 2, AppSettings(), FakeEncoder::OnTerm::lingers);
        addPhotos(*state, names(QStringLiteral("q"), 4));
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
        BatchController *batch = state->batch();
        state->runner()->cancel();
        QVERIFY(batch->isStopping() && !batch->isRunning());
        qsizetype heldAtStart = -1; // read when the new batch starts, not whenever a poll comes round
        connect(batch, &BatchController::started, this, [&] { heldAtStart = batch->runningJobCount(); });
        QSignalSpy processing(state->runner(), &BatchRunner::isProcessingChanged);
        state->runner()->startCurrentProcessing();
        QTRY_VERIFY_WITH_TIMEOUT(heldAtStart >= 0, 30000);
        QCOMPARE(heldAtStart, 2); // the old tools still hold the window
        QStringList launcher;
        connect(m_launcher.get(), &LauncherProgress::changed, this,
                [&] { launcher.append(m_launcher->isShowing() ? m_launcher->text() : QStringLiteral("reset")); });

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        const QString log = starts().join(QLatin1Char(';'));
        QVERIFY2(FakeEncoder::log(m_work, "double").isEmpty(), qPrintable(log)); // never two tools on one file
        QCOMPARE(starts().size(), 6); // q0 q1; q2 q3 in the new batch; q0 q1 again in its follow-up
        for (const QString &line : starts())
            QVERIFY2(line.section(QLatin1Char(' '), 2).toInt() <= 2, qPrintable(log)); // never more than the window
        QCOMPARE(state->workspace()->compressTasks()->count(TaskStatus::completed), 4);
        // The old jobs coming back touch neither the new batch's progress nor its state.
        QCOMPARE(launcher, (QStringList{QStringLiteral("1/4"), QStringLiteral("2/4"), QStringLiteral("3/4"), QStringLiteral("4/4"),
                                    QStringLiteral("reset")}));
        QCOMPARE(processing.count(), 2); // on at the start, off at the very end: the follow-up is part of the batch
        QVERIFY(!batch->isStopping());
        QVERIFY(QDir(m_work + QStringLiteral("/photos")).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void failedJobsThenRetry()
    {
        // The tool fails while the file "fail" exists.
        auto state = launch("[ -e \"$d/fail\" ] && { echo broken >&2; rm -f \"$d/running/$name.$$\"; exit 1; }\n" + TestEnv::writeFakeJxlCommand() + "\n", 2);
        TestEnv::writeAll(m_work + QStringLiteral("/fail"), {});
        const TaskItem failing = addPhotos(*state, {QStringLiteral("f.jpg")}).first();
        TaskList *list = state->workspace()->compressTasks();
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(list->count(TaskStatus::failed), 1); // a failed job starts no follow-up batch
        QCOMPARE(m_launcher->text(), QStringLiteral("1/1"));
        QVERIFY(list->find(failing.id)->errorMessage.value_or(QString()).contains(QStringLiteral("broken")));

        // A retry clears the errors and runs the failed jobs along with the waiting ones.
        QVERIFY(QFile::remove(m_work + QStringLiteral("/fail")));
        addPhotos(*state, {QStringLiteral("waiting.jpg")});
        // The start is recorded as it happens: two quick jobs can start and end between two polls.
        QSignalSpy started(state->batch(), &BatchController::started);
        state->workspace()->retryFailedTasks();
        QVERIFY(!list->find(failing.id)->errorMessage);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QCOMPARE(started.count(), 1);
        QCOMPARE(list->count(TaskStatus::completed), 2);
        state->workspace()->retryFailedTasks(); // finished jobs are not run again
        QVERIFY(!state->runner()->isProcessing() && !state->batch()->isPreparing());
        QCOMPARE(starts().size(), 3);
    }

    // A chosen output folder on a disk (a tmpfs here) is remembered with that disk; a folder
    // stored before volumes were remembered takes its volume at its first batch. Unmounted, the
    // mount point left behind, the batch is refused like a missing folder: nothing runs, no
    // photo is touched. Mounted again, it runs.
    void outputFolderOnAnUnmountedDisk()
    {
        ScratchVolume usb(m_work + QStringLiteral("/media/usb"), 1024 * 1024);
        if (!usb.isMounted())
            QSKIP("mounting a volume needs root");
        Preferences().setData(SettingsStore::outputFolderKey, QFile::encodeName(usb.folder()));
        auto state = launch(TestEnv::writeFakeJxlCommand() + "\n", 2);
        QCOMPARE(state->settings()->outputVolume(), QString());
        TaskList *tasks = state->workspace()->compressTasks();
        QSignalSpy finished(state->batch(), &BatchController::finished);
        const auto runs = [&](const QString &stem) {
            state->workspace()->clearCurrentTasks();
            addPhotos(*state, names(stem, 2));
            state->runner()->startCurrentProcessing();
        };
        runs(QStringLiteral("p"));
        QVERIFY(finished.wait(30000));
        QCOMPARE(tasks->count(TaskStatus::completed), 2);
        const QString volume = VolumeIdentity::of(usb.folder());
        QCOMPARE(state->settings()->outputVolume(), volume);
        QCOMPARE(Preferences().data(SettingsStore::outputVolumeKey), volume.toUtf8());

        usb.unmount();
        QVERIFY(QFileInfo(usb.folder()).isDir());
        QSignalSpy started(state->batch(), &BatchController::started);
        QSignalSpy warned(state->runner(), &BatchRunner::diskWarningMessageChanged);
        runs(QStringLiteral("q"));
        QVERIFY(warned.wait(30000));
        QCOMPARE(state->runner()->diskWarningMessage().value_or(QString()),
                 QStringLiteral("输出文件夹所在的磁盘未连接：%1。请连接该磁盘，或在设置中另选输出位置。").arg(usb.folder()));
        QVERIFY(state->runner()->isOutputFolderMissing());
        QCOMPARE(started.count(), 0);
        QCOMPARE(tasks->count(TaskStatus::pending), 2);
        QCOMPARE(starts().size(), 2); // the first batch's
        QCOMPARE(TestEnv::entries(m_work + QStringLiteral("/photos")),
                 (QStringList{QStringLiteral("p0.jpg"), QStringLiteral("p1.jpg"), QStringLiteral("q0.jpg"), QStringLiteral("q1.jpg")}));
        QVERIFY(QDir(usb.folder()).isEmpty());
        state->runner()->clearDiskWarning();

        QVERIFY(usb.mount());
        state->runner()->startCurrentProcessing();
        QVERIFY(finished.wait(30000));
        QCOMPARE(tasks->count(TaskStatus::completed), 2);
        QVERIFY(QFileInfo(usb.folder() + QStringLiteral("/photos/q1.jxl")).isFile());
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
