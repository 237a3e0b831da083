#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/importservice.h"
#include "app/launcherprogress.h"
#include "app/lifetimestats.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "fakeencoder.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"
#include "recordingfeedback.h"
#include "scratchvolume.h"
#include "servicefixtures.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using ServiceFixtures::names;

// Batches run through AppState's services with fake encoders that record what ran when.
class TestBatch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work; // one folder per test: the fake tool, its log, running/ and photos/
    std::unique_ptr<LauncherProgress> m_launcher;
    RecordingSound m_sound;

    std::unique_ptr<AppState> launch(const QByteArray &toolBody, int jobs, FakeEncoder::OnTerm onTerm = FakeEncoder::OnTerm::exits)
    {
        auto state = std::make_unique<AppState>(BatchFeedback::Devices{nullptr, m_launcher.get(), &m_sound, false});
        RunOverrides overrides;
        overrides.jobs = jobs;
        overrides.customCjxlPath = FakeEncoder::write(m_work, toolBody, onTerm);
        state->settings()->setRunOverrides(overrides);
        if (!QTest::qWaitFor([&] { return !state->tools()->cjxlPath().isEmpty(); }, 30000))
            QTest::qFail("the start-up tool probe never came back", __FILE__, __LINE__);
        return state;
    }

    QList<TaskItem> addPhotos(AppState &state, const QStringList &files)
    {
        return ServiceFixtures::addPhotos(state.workspace()->compressTasks(), m_work, files);
    }

    QStringList starts() const { return FakeEncoder::log(m_work); }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        TestEnv::forgetPreferences();
        m_work = ServiceFixtures::caseFolder(m_root);
        m_launcher = std::make_unique<LauncherProgress>();
        m_sound.played = 0;
    }

    // The composition root's services work on one set of lists: a batch starts on the shown one.
    void servicesShareTheLists()
    {
        AppState state(BatchFeedback::Devices{});
        QTRY_VERIFY_WITH_TIMEOUT(!state.tools()->cjxlPath().isEmpty(), 30000);
        addPhotos(state, {u"a.jpg"_s}); // nothing waits in the restore list
        state.workspace()->switchMode(ConversionMode::jxlToJPEG);
        state.runner()->startCurrentProcessing();
        QVERIFY(!state.batch()->isPreparing());
        state.workspace()->switchMode(ConversionMode::jpegToJXL);
        state.runner()->startCurrentProcessing();
        QVERIFY(state.batch()->isPreparing());
        state.runner()->cancel();
        QVERIFY(!state.batch()->isPreparing() && !state.runner()->isProcessing());
    }

    // A running job removed is stopped; imports run as the batch's follow-up, refused when no disk could take one.
    void listChangesDuringABatch()
    {
        // A stopped tool lingers (it ignores SIGTERM) and finishes its second of work.
        auto state = launch(FakeEncoder::slowly("1"), 2, FakeEncoder::OnTerm::lingers);
        TaskList *list = state->workspace()->compressTasks();
        const QList<TaskItem> first = addPhotos(*state, names(u"first"_s, 3));
        QStringList processing; // with the sounds played so far
        connect(state->runner(), &BatchRunner::isProcessingChanged, this, [&] {
            processing.append(QLatin1String(state->runner()->isProcessing() ? "on " : "off ") + QString::number(m_sound.played));
        });
        QSignalSpy started(state->batch(), &BatchController::started);
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
        state->workspace()->removeTask(first[0]); // its tool is stopped; its file stays held until it has exited

        const QString later = m_work + u"/later"_s;
        for (const QString &name : names(u"later"_s, 3))
            TestEnv::writeAll(later + u'/' + name, TestEnv::fakeJpeg(1000));
        QSignalSpy imported(state->imports(), &ImportService::importFinished);
        state->imports()->importURLs({QUrl::fromLocalFile(later), first[0].sourceURL});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 1, 30000);
        QCOMPARE(imported.at(0).at(0).toInt(), 3);
        QVERIFY(state->runner()->isProcessing()); // imported while the first batch runs

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        // Processing throughout, one start, and the one sound only after it ended.
        QCOMPARE(processing.join(u','), u"on 0,off 0"_s);
        QVERIFY(m_sound.played == 1 && started.count() == 1);
        QVERIFY(list->size() == 5 && list->count(TaskStatus::completed) == 5 && starts().size() == 6);
        QCOMPARE(m_launcher->text(), u"5/5"_s);
        QCOMPARE(state->stats()->processedCount(), 5); // the removed job was stopped before it saved anything
        QVERIFY(!QFileInfo::exists(m_work + u"/photos/first0.jxl"_s));
        QVERIFY(QFileInfo::exists(first[0].sourceURL.toLocalFile()));

        // The follow-up of a batch with a photo no disk could take is refused, and says what it needs.
        addPhotos(*state, {u"a.jpg"_s});
        state->runner()->startCurrentProcessing();
        TaskItem huge = addPhotos(*state, {u"huge.jpg"_s}).first();
        huge.originalSize = qint64(1) << 60;
        QVERIFY(list->replace(huge));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QVERIFY(!state->runner()->isProcessing());
        const QString message = state->runner()->diskWarningMessage().value_or(QString());
        QVERIFY2(message.contains(formattedBytes(huge.originalSize + DiskSpaceGuard::safetyMargin)), qPrintable(message));
        QCOMPARE(list->find(huge.id)->status, TaskStatus::pending);
    }

    void startRightAfterCancel()
    {
        // Tools that ignore SIGTERM linger until killed after the grace period, past the new start.
        auto state = launch(FakeEncoder::slowly("4"), 2, FakeEncoder::OnTerm::lingers);
        addPhotos(*state, names(u"q"_s, 4));
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);
        BatchController *batch = state->batch();
        state->runner()->cancel();
        QVERIFY(batch->isStopping() && !batch->isRunning() && !state->runner()->isProcessing());
        qsizetype heldAtStart = -1; // read when the new batch starts, not whenever a poll comes round
        connect(batch, &BatchController::started, this, [&] { heldAtStart = batch->runningJobCount(); });
        QSignalSpy processing(state->runner(), &BatchRunner::isProcessingChanged);
        state->runner()->startCurrentProcessing();
        QTRY_VERIFY_WITH_TIMEOUT(heldAtStart >= 0, 30000);
        QCOMPARE(heldAtStart, 2); // the old tools still hold the window
        QStringList launcher;
        connect(m_launcher.get(), &LauncherProgress::changed, this,
                [&] { launcher.append(m_launcher->isShowing() ? m_launcher->text() : u"reset"_s); });

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        const QString log = starts().join(u';');
        QVERIFY2(FakeEncoder::log(m_work, "double").isEmpty(), qPrintable(log)); // never two tools on one file
        QCOMPARE(starts().size(), 6); // q0 q1; q2 q3 in the new batch; q0 q1 again in its follow-up
        QVERIFY2(FakeEncoder::mostAtOnce(m_work) <= 2, qPrintable(log)); // never more than the window
        QCOMPARE(state->workspace()->compressTasks()->count(TaskStatus::completed), 4);
        // The old jobs coming back touch neither the new batch's progress nor its state.
        QCOMPARE(launcher, (QStringList{u"1/4"_s, u"2/4"_s, u"3/4"_s, u"4/4"_s, u"reset"_s}));
        QCOMPARE(processing.count(), 2); // on at the start, off at the very end: the follow-up is part of the batch
        QVERIFY(!batch->isStopping());
        QVERIFY(QDir(m_work + u"/photos"_s).entryList({u".*"_s}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void failedJobsThenRetry()
    {
        // The tool fails while the file "fail" exists.
        auto state = launch("[ -e \"$d/fail\" ] && { echo broken >&2; rm -f \"$d/running/$name.$$\"; exit 1; }\n"
                                + TestEnv::writeFakeJxlCommand() + "\n", 2);
        TestEnv::writeAll(m_work + u"/fail"_s, {});
        const TaskItem failing = addPhotos(*state, {u"f.jpg"_s}).first();
        TaskList *list = state->workspace()->compressTasks();
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        // A failed job starts no follow-up batch.
        QVERIFY(list->count(TaskStatus::failed) == 1 && starts().size() == 1);
        QVERIFY(list->find(failing.id)->errorMessage.value_or(QString()).contains(u"broken"_s));

        // A retry runs the failed jobs along with the waiting ones, in one batch.
        QVERIFY(QFile::remove(m_work + u"/fail"_s));
        addPhotos(*state, {u"waiting.jpg"_s});
        QSignalSpy started(state->batch(), &BatchController::started);
        state->workspace()->retryFailedTasks();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QVERIFY(started.count() == 1 && list->count(TaskStatus::completed) == 2);
    }

    // An output folder's disk unmounted (its mount point left) refuses the batch, touching nothing; mounted, it runs.
    void outputFolderOnAnUnmountedDisk()
    {
        ScratchVolume usb(m_work + u"/media/usb"_s, 1024 * 1024);
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
        runs(u"p"_s);
        QVERIFY(finished.wait(30000));
        QCOMPARE(tasks->count(TaskStatus::completed), 2);
        QCOMPARE(state->settings()->outputVolume(), VolumeIdentity::of(usb.folder()));

        usb.unmount();
        QVERIFY(QFileInfo(usb.folder()).isDir());
        QSignalSpy started(state->batch(), &BatchController::started);
        QSignalSpy warned(state->runner(), &BatchRunner::diskWarningMessageChanged);
        runs(u"q"_s);
        QVERIFY(warned.wait(30000));
        QVERIFY(state->runner()->diskWarningMessage().value_or(QString()).contains(usb.folder()));
        QVERIFY(state->runner()->isOutputFolderMissing() && started.isEmpty());
        QVERIFY(tasks->count(TaskStatus::pending) == 2 && starts().size() == 2); // the first batch's
        QCOMPARE(TestEnv::entries(m_work + u"/photos"_s), (QStringList{u"p0.jpg"_s, u"p1.jpg"_s, u"q0.jpg"_s, u"q1.jpg"_s}));
        QVERIFY(QDir(usb.folder()).isEmpty());
        state->runner()->clearDiskWarning();

        QVERIFY(usb.mount());
        state->runner()->startCurrentProcessing();
        QVERIFY(finished.wait(30000));
        QCOMPARE(tasks->count(TaskStatus::completed), 2);
        QVERIFY(QFileInfo(usb.folder() + u"/photos/q1.jxl"_s).isFile());
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
