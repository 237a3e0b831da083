#include "app/batchcontroller.h"
#include "app/batchprogress.h"
#include "app/memoryadmission.h"
#include "app/tasklist.h"
#include "fakeencoder.h"
#include "servicefixtures.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>


#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Waits the seconds in $d/delay (0.2 when absent), then writes the smallest JXL that passes.
const QByteArray kBody = R"sh(sleep "$(cat "$d/delay" 2>/dev/null || echo 0.2)" >/dev/null 2>&1
)sh" + TestEnv::writeFakeJxlCommand();

} // namespace

// The batch controller on its own: the window, the memory gate, progress, stopping one job,
// refusals and cancels, with a fake encoder that records what ran when.
class TestBatchController final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    std::unique_ptr<TaskList> m_compress;
    std::unique_ptr<TaskList> m_restore;
    std::unique_ptr<BatchController> m_batch;
    std::optional<qint64> m_available; // what the fake memory probe reports

    QList<TaskItem> addPhotos(const QList<qint64> &sizes) { return ServiceFixtures::addPhotos(m_compress.get(), m_work, sizes); }
    QStringList log(const char *kind = "start") const { return FakeEncoder::log(m_work, kind); }
    void setDelay(const char *seconds) { TestEnv::writeAll(m_work + u"/delay"_s, seconds); }
    const TaskItem &job(const TaskItem &task) const { return *m_compress->find(task.id); }

    void useSettings(DeleteStrategy strategy, bool verify = false)
    {
        AppSettings settings;
        settings.customCjxlPath = m_work + u"/cjxl"_s;
        settings.deleteStrategy = strategy;
        settings.verifyLossless = verify;
        m_batch->setJobSettings(settings);
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        m_work = ServiceFixtures::caseFolder(m_root);
        m_compress = std::make_unique<TaskList>(ConversionMode::jpegToJXL);
        m_restore = std::make_unique<TaskList>(ConversionMode::jxlToJPEG);
        m_batch = std::make_unique<BatchController>(m_compress.get(), m_restore.get());
        FakeEncoder::write(m_work, kBody);
        useSettings(DeleteStrategy::keepOriginal);
        // Every job needs 1000 bytes; the machine has what m_available says.
        m_available = std::nullopt;
        m_batch->memory()->setNeedEstimator([](const QString &, ConversionMode, qint64) { return qint64(1000); });
        m_batch->memory()->setProbes([this] { return m_available; }, [] { return qint64(0); });
    }

    void cleanup()
    {
        m_batch.reset();
        m_compress.reset();
        m_restore.reset();
    }

    // From the pixels in the header (Canon_40D.jpg is 100 × 68, from-jpeg.jxl that photo
    // recompressed), or from the file's size where there is no header.
    void estimatedNeed()
    {
        constexpr qint64 base = 16 * 1024 * 1024;
        for (const auto &[file, mode, expected] : {std::tuple{"jpeg/cameras/Canon_40D.jpg", ConversionMode::jpegToJXL, base + 6800 * 30},
                                                   {"jxl/from-jpeg.jxl", ConversionMode::jxlToJPEG, base + 6800 * 7},
                                                   {"README.md", ConversionMode::jpegToJXL, base + 1000 * 4 * 30}})
            QCOMPARE(MemoryAdmission::estimatedNeed(TestEnv::dataPath(QLatin1String(file)), mode, 1000), expected);
    }

    void memoryGate_data()
    {
        QTest::addColumn<std::optional<qint64>>("available");
        QTest::addColumn<int>("most");
        QTest::newRow("unknown") << std::optional<qint64>() << 3;
        QTest::newRow("two fit") << std::optional<qint64>(2500) << 2;
        QTest::newRow("none fits: one at a time") << std::optional<qint64>(0) << 1;
    }

    void memoryGate()
    {
        QFETCH(std::optional<qint64>, available);
        m_available = available;
        setDelay("0.5");
        addPhotos(QList<qint64>(6, 100));
        QSignalSpy finished(m_batch.get(), &BatchController::finished);
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 3));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QVERIFY(m_compress->count(TaskStatus::completed) == 6 && log().size() == 6);
        // At most what fits (the window caps it), and no fewer when the jobs overlap anyway.
        QTEST(FakeEncoder::mostAtOnce(m_work), "most");
    }

    void memoryFreedWhileAJobRuns()
    {
        // Nothing fits besides the first job; memory freed meanwhile is seen without a job ending.
        m_available = 0;
        setDelay("4");
        addPhotos({100, 100});
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 2));
        QTRY_COMPARE_WITH_TIMEOUT(log().size(), 1, 30000);
        QTest::qWait(600); // proves that no second job starts while nothing fits
        QCOMPARE(log().size(), 1);
        m_available = 5000;
        QTRY_COMPARE_WITH_TIMEOUT(log().size(), 2, 3000);
        QVERIFY(log("end").isEmpty());
    }

    // A batch whose first photos go fast (small, or cached) and the rest at a steady two
    // seconds each: once a minute of the steady pace is in, the estimate is that pace exactly.
    void estimateFollowsTheRecentPace()
    {
        constexpr int kFast = 10;
        constexpr int kJobs = 50;
        BatchProgress progress;
        for (int i = 0; i < kJobs; ++i)
            progress.add(1000);
        qint64 now = 0;
        progress.begin(now);
        TaskItem finished;
        finished.status = TaskStatus::completed;
        QList<std::optional<qint64>> estimates; // after each finished job
        for (int done = 1; done <= kJobs; now += done++ <= kFast ? 100 : 2000) { // till the next job ends
            progress.jobEnded(finished, 1000, now);
            estimates.append(progress.remainingSeconds(now));
        }
        QVERIFY(!estimates.at(0) && estimates.at(1));
        // From 30 steady jobs on the last minute holds nothing else; a batch-long average would
        // still count the fast start and promise less than half of what is left.
        for (int done = kFast + 31; done <= kJobs; ++done)
            QCOMPARE(estimates.at(done - 1), std::optional<qint64>(2 * (kJobs - done)));
    }

    void progressAndEstimate()
    {
        addPhotos({1000, 2000, 3000, 4000});
        QStringList progress; // done/total bytesDone/bytesTotal and whether an estimate exists
        connect(m_batch.get(), &BatchController::progressChanged, this, [&] {
            progress.append(u"%1/%2 %3/%4 %5"_s.arg(m_batch->doneCount()).arg(m_batch->totalCount()).arg(m_batch->bytesDone()).arg(m_batch->bytesTotal())
                                .arg(m_batch->remainingSeconds() ? QLatin1Char('e') : QLatin1Char('-')));
        });
        QSignalSpy started(m_batch.get(), &BatchController::started);
        QSignalSpy finished(m_batch.get(), &BatchController::finished);
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 1));
        QVERIFY(!m_batch->start(ConversionMode::jpegToJXL, 1)); // one batch at a time
        QVERIFY(m_batch->isPreparing() && !m_batch->isRunning() && !m_batch->direction());
        QTRY_COMPARE_WITH_TIMEOUT(started.count(), 1, 30000);
        QCOMPARE(m_batch->direction(), std::optional<ConversionMode>(ConversionMode::jpegToJXL));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(progress, (QStringList{u"0/4 0/10000 -"_s, u"1/4 1000/10000 -"_s, u"2/4 3000/10000 e"_s,
                                        u"3/4 6000/10000 e"_s, u"4/4 10000/10000 e"_s, u"0/0 0/0 -"_s}));
        QVERIFY(!m_batch->isRunning() && !m_batch->direction() && m_batch->runningJobCount() == 0);
        QVERIFY(!m_batch->start(ConversionMode::jpegToJXL, 1)); // nothing waits any more
    }

    // With the window full the next job is prepared (its temporary made) but pending, running no
    // tool; stopped, alone or with the batch, it goes at once and leaves nothing behind.
    void nextJobPreparedAheadOfItsPlace()
    {
        setDelay("30"); // the first tool runs until the cancel
        const QList<TaskItem> tasks = addPhotos({100, 100, 100});
        const auto temporaries = [this] { return QDir(m_work + u"/photos"_s).entryList({u".pikora-*"_s}, QDir::Files | QDir::Hidden); };
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 1));
        QTRY_COMPARE_WITH_TIMEOUT(log().size(), 1, 30000);
        QTRY_COMPARE(temporaries().size(), 2); // the running job's and the next one's
        QVERIFY(m_batch->runningJobCount() == 2 && m_batch->totalCount() == 3);
        QVERIFY(job(tasks[0]).status == TaskStatus::processing && job(tasks[1]).status == TaskStatus::pending);

        // Stopped by hand: gone at once, out of the batch's count, and the one after it moves up.
        m_batch->cancelJob(tasks[1].id);
        QVERIFY(!m_batch->isHeld(tasks[1].id));
        QCOMPARE(m_batch->totalCount(), 2);
        QTRY_VERIFY(m_batch->isHeld(tasks[2].id));
        QTRY_COMPARE(temporaries().size(), 2);

        m_batch->cancel();
        // Only the job with a tool holds its photo until the tool has exited.
        QVERIFY(m_batch->isHeld(tasks[0].id) && !m_batch->isHeld(tasks[2].id));
        QTRY_COMPARE_WITH_TIMEOUT(m_batch->runningJobCount(), 0, 30000);
        QTRY_VERIFY(temporaries().isEmpty());
        QVERIFY(log().size() == 1 && m_compress->count(TaskStatus::pending) == 3);
    }

    // An output folder that is not there: made for a run that names it (the command line), but
    // a start refused, with nothing made or run, when it is to be used as it is (the window's
    // stored folder; a whole unmounted disk: tst_batch). A file in its place is no folder either.
    void missingOutputFolder()
    {
        const TaskItem photo = addPhotos({16}).first();
        const QString folder = m_work + u"/disk/JXL"_s;
        TestEnv::writeAll(folder, "not a folder");
        QSignalSpy missing(m_batch.get(), &BatchController::outputFolderMissing);
        QSignalSpy finished(m_batch.get(), &BatchController::finished);
        m_batch->setOutputFolder(folder, BatchController::MissingFolder::refuse);
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 2));
        QVERIFY(missing.wait(30000));
        QVERIFY(!m_batch->isRunning() && !m_batch->isPreparing() && log().isEmpty() && finished.isEmpty());
        QCOMPARE(job(photo).status, TaskStatus::pending);
        QVERIFY(QFile::remove(folder));

        m_batch->setOutputFolder(folder); // made as needed
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 2));
        QVERIFY(finished.wait(30000) && missing.count() == 1);
        QCOMPARE(job(photo).destinationURL, QUrl::fromLocalFile(folder + u"/photos/p0.jxl"_s));
    }

    // The controller hands the disk check its window, strategy and verification for a batch too
    // large for any disk: every output and a copy per running job, or where sources are deleted
    // only the outputs of the jobs alive at once (three per place). (Each rule: tst_outcomes.)
    void refusedBeforeAnyJob_data()
    {
        QTest::addColumn<DeleteStrategy>("strategy");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<int>("window");
        QTest::addColumn<int>("counted"); // in photos' sizes
        QTest::newRow("kept, verified") << DeleteStrategy::keepOriginal << true << 2 << 8 + 2;
        QTest::newRow("deleted, one at a time") << DeleteStrategy::deleteImmediately << false << 1 << 3 + 1;
    }

    void refusedBeforeAnyJob()
    {
        QFETCH(DeleteStrategy, strategy);
        QFETCH(bool, verify);
        QFETCH(int, window);
        QFETCH(int, counted);
        if (QStorageInfo(m_root.path()) != QStorageInfo(QDir::tempPath()))
            QSKIP("the temporary folder is on another volume than the photos");
        useSettings(strategy, verify);
        constexpr qint64 size = qint64(1) << 56;
        addPhotos(QList<qint64>(8, size));
        QSignalSpy refused(m_batch.get(), &BatchController::refused);
        QSignalSpy started(m_batch.get(), &BatchController::started);
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, window));
        QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, 30000);
        const auto check = refused.first().at(1).value<DiskSpaceGuard::CapacityCheck>();
        QVERIFY(!check.isSafe && check.needed == counted * size + DiskSpaceGuard::safetyMargin);
        QVERIFY(!m_batch->isRunning() && !m_batch->isPreparing() && started.isEmpty() && log().isEmpty());
    }

    void cancelledWhileItsChecksRun()
    {
        const TaskItem photo = addPhotos({10}).first();
        QSignalSpy started(m_batch.get(), &BatchController::started);
        QVERIFY(m_batch->start(ConversionMode::jpegToJXL, 2));
        m_batch->cancel();
        QVERIFY(!m_batch->isPreparing());
        QTest::qWait(500); // proves that the dropped check's answer starts nothing when it comes
        QVERIFY(started.isEmpty() && log().isEmpty());
        QCOMPARE(job(photo).status, TaskStatus::pending);
    }
};

QTEST_GUILESS_MAIN(TestBatchController)
#include "tst_batchcontroller.moc"
