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
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"
#include "recordingfeedback.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Fake encoders log each start with how many live copies run then (a killed one leaves its mark), and a start while a live copy still
// works on the same file. The body that follows writes the output ("$2"); kEpilogue ends every script.
const QByteArray kPrelude = R"sh(name=$(basename "$1")
for f in "$d/running/$name".*; do
  [ -e "$f" ] && kill -0 "${f##*.}" 2>/dev/null && echo "double $name" >> "$d/log"
done
touch "$d/running/$name.$$"
n=0
for f in "$d/running/"*; do kill -0 "${f##*.}" 2>/dev/null && n=$((n + 1)); done
echo "start $name $n" >> "$d/log"
)sh";
const QByteArray kEpilogue = "rm -f \"$d/running/$name.$$\"\n";

QByteArray slowly(const char *seconds)
{
    return QByteArray("sleep ") + seconds + " >/dev/null 2>&1\n" + TestEnv::writeFakeJxlCommand() + "\n";
}

QStringList names(const QString &stem, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(stem + QString::number(i) + QStringLiteral(".jpg"));
    return out;
}

} // namespace

// Batches run through AppState with fake encoders that record what ran when, and once with
// the real tools on real photos.
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

    std::unique_ptr<AppState> launch(const QByteArray &toolBody, int jobs, const AppSettings &settings = AppSettings())
    {
        auto state = std::make_unique<AppState>(BatchFeedback::Devices{nullptr, m_launcher.get(), &m_sound, false});
        state->settings()->setSettings(settings); // by default: keep the originals, so nothing is verified
        RunOverrides overrides;
        overrides.jobs = jobs;
        if (!toolBody.isEmpty()) // the script finds its folder in $d
            overrides.customCjxlPath = TestEnv::writeScript(
                m_work + QStringLiteral("/cjxl"), "d='" + QFile::encodeName(m_work) + "'\n" + kPrelude + toolBody + kEpilogue);
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

    QStringList starts() const
    {
        return QString::fromUtf8(TestEnv::readAll(m_work + QStringLiteral("/log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
        QVERIFY(m_fake.isConnected());
        QVERIFY(m_fake.registerVirtualObject(QStringLiteral("/"), &m_portal, QDBusConnection::SubPath));
        QVERIFY(m_fake.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }

    void init()
    {
        Preferences().remove(SettingsStore::outputFolderKey);
        Preferences().remove(SettingsStore::outputVolumeKey);
        m_work = m_root.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        if (const char *tag = QTest::currentDataTag())
            m_work += QLatin1Char('/') + QString::fromLatin1(tag).replace(QLatin1Char(' '), QLatin1Char('_'));
        QVERIFY(QDir().mkpath(m_work + QStringLiteral("/running")));
        Preferences store;
        store.remove(LifetimeStats::lifetimeBytesKey);
        store.remove(LifetimeStats::lifetimeCountKey);
        m_launcher = std::make_unique<LauncherProgress>();
        m_sound.played = 0;
        m_portal.calls.clear();
        m_portal.grantedRequests.clear();
    }

    void windowCountersAndFeedback_data()
    {
        QTest::addColumn<bool>("feedback");
        QTest::newRow("sound on") << true;
        QTest::newRow("sound off") << false;
    }

    void windowCountersAndFeedback()
    {
        QFETCH(bool, feedback);
        AppSettings settings;
        settings.soundFeedbackEnabled = feedback;
        // "big" gets an output larger than its source: it completes but saves nothing.
        auto state = launch("sleep 0.3\n" + TestEnv::writeFakeJxlCommand() + "\ncase \"$name\" in big*) head -c 5000 /dev/zero >> \"$2\" ;; esac\n",
                            4, settings);
        addPhotos(*state, names(QStringLiteral("w"), 19) << QStringLiteral("big.jpg"));
        QList<qint64> counted; // the lifetime bytes saved, after each count
        connect(state->stats(), &LifetimeStats::changed, this, [&] { counted.append(state->stats()->savedBytes()); });
        QStringList launcher;
        connect(m_launcher.get(), &LauncherProgress::changed, this,
                [&] { launcher.append(m_launcher->isShowing() ? m_launcher->text() : QStringLiteral("reset")); });
        QSignalSpy finished(state->batch(), &BatchController::finished);

        state->runner()->startCurrentProcessing();
        // Added meanwhile and too large for the volume: the disk guard refuses its follow-up batch.
        TaskItem huge = addPhotos(*state, {QStringLiteral("huge.jpg")}).first();
        huge.originalSize = qint64(1) << 60;
        QVERIFY(state->workspace()->compressTasks()->replace(huge));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QVERIFY(!state->runner()->isProcessing());
        const QString message = state->runner()->diskWarningMessage().value_or(QString());
        QVERIFY2(message.startsWith(QString::fromUtf8("磁盘空间不足：当前卷剩余可用空间仅 ")), qPrintable(message));
        QVERIFY(message.endsWith(QString::fromUtf8("，本批次转码预估需要约 ") + formattedBytes(huge.originalSize + 524288000)
                                 + QString::fromUtf8("。请先清理磁盘空间以防文件写入截断。")));

        const QStringList log = starts();
        QCOMPARE(log.size(), 20); // every job ran once
        int most = 0;
        for (const QString &line : log)
            most = std::max(most, line.section(QLatin1Char(' '), 2).toInt());
        QVERIFY2(most <= 4 && most >= 2, qPrintable(log.join(QLatin1Char(';')))); // bounded, yet in parallel
        QCOMPARE(launcher.size(), 21); // after each job, then reset
        QVERIFY(launcher.first() == QStringLiteral("1/21") && launcher.mid(19) == QStringList({QStringLiteral("20/21"), QStringLiteral("reset")}));
        QCOMPARE(counted.size(), 19); // "big" saved nothing and was not counted
        QVERIFY(counted.first() == 1000 - TestEnv::fakeJxlSize && counted.last() == 19 * (1000 - TestEnv::fakeJxlSize)); // at once after each count
        QTRY_VERIFY(!state->stats()->isStoring()); // the file follows in the background
        QCOMPARE(Preferences().int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(counted.last()));

        QCOMPARE(m_sound.played, feedback ? 1 : 0);
    }

    void listChangesDuringABatch()
    {
        // A stopped tool lingers (it ignores SIGTERM) and finishes its second of work.
        auto state = launch("trap '' TERM\n" + slowly("1"), 2);
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
        QTest::qWait(500); // time for a queued job to start, were it going to
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
        auto state = launch("trap '' TERM\n" + slowly("4"), 2);
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
        QVERIFY2(!log.contains(QStringLiteral("double")), qPrintable(log)); // never two tools on one file
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

    void lifetimeCountersAddUpAcrossProcesses()
    {
        // Two states started before either counted, and the command line in between: each adds
        // to what the others stored instead of writing back its own older total.
        auto first = launch(slowly("0"), 2);
        auto second = launch(slowly("0"), 2);
        QSignalSpy firstDone(first->batch(), &BatchController::finished);
        addPhotos(*first, names(QStringLiteral("a"), 2));
        first->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(firstDone.count(), 1, 60000);
        QTRY_VERIFY(!first->stats()->isStoring());

        const QString other = m_work + QStringLiteral("/other/b.jpg");
        TestEnv::writeAll(other, TestEnv::fakeJpeg(1000));
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // This process keeps its settings in the test-mode folder; the other one is sent there too.
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
        cli.setProcessEnvironment(environment);
        cli.start(QStringLiteral(PIKORA_CLI_PATH), {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("--cjxl"),
                                                     m_work + QStringLiteral("/cjxl"), other});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);

        QSignalSpy secondDone(second->batch(), &BatchController::finished);
        second->workspace()->switchMode(ConversionMode::jxlToJPEG);
        second->workspace()->switchMode(ConversionMode::jpegToJXL);
        addPhotos(*second, names(QStringLiteral("c"), 3));
        second->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(secondDone.count(), 1, 60000);
        QTRY_VERIFY(!second->stats()->isStoring()); // its last write read what the others stored
        QCOMPARE(second->stats()->savedBytes(), 6 * (1000 - TestEnv::fakeJxlSize));
        QCOMPARE(second->stats()->processedCount(), 6);
        Preferences store;
        QCOMPARE(store.int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(6 * (1000 - TestEnv::fakeJxlSize)));
        QCOMPARE(store.integer(LifetimeStats::lifetimeCountKey), 6);
    }

    void realPhotosEndToEnd()
    {
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty() || TestEnv::installedTool(QStringLiteral("djxl")).isEmpty())
            QSKIP("cjxl and djxl are not installed");
        AppSettings settings;
        settings.deleteStrategy = DeleteStrategy::moveToTrash; // verified against the source first
        settings.compressionEffort = 3;
        auto state = launch({}, 2, settings);
        const QStringList photos{QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg"), QStringLiteral("Sony_HDR-HC3.jpg")};
        const QString folder = m_work + QStringLiteral("/photos");
        for (const QString &photo : photos)
            TestEnv::copyData(QStringLiteral("jpeg/cameras/") + photo, folder);
        state->imports()->importURLs({QUrl::fromLocalFile(folder)});
        QTRY_COMPARE_WITH_TIMEOUT(state->workspace()->compressTasks()->size(), 3, 30000);
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);

        qint64 saved = 0;
        for (const TaskItem &task : state->workspace()->compressTasks()->items()) {
            QVERIFY2(task.status == TaskStatus::completed, qPrintable(task.errorMessage.value_or(task.fileName())));
            QVERIFY(task.isVerified);
            QCOMPARE(QFileInfo(task.destinationURL->toLocalFile()).size(), *task.compressedSize);
            QVERIFY(!QFileInfo::exists(task.sourceURL.toLocalFile()));
            saved += task.savedBytes();
        }
        QTRY_VERIFY(!state->stats()->isStoring());
        QCOMPARE(Preferences().int64(LifetimeStats::lifetimeBytesKey), std::optional<qint64>(saved));
        const QString trash = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/Trash/files");
        QCOMPARE(QDir(trash).entryList(QDir::Files, QDir::Name), photos);
    }

    // The output folder chosen in the window reaches the batch at start-up and when it changes:
    // a dropped folder's tree is mirrored below it with real tools, a second run over the same
    // photos skips them all and writes nothing, and a folder that has gone refuses the batch
    // instead of being made anew.
    void outputFolderFromTheWindow()
    {
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl is not installed");
        const QString out = m_work + QStringLiteral("/backup");
        QVERIFY(QDir().mkpath(out));
        SettingsStore(HardwareInfo()).setOutputFolder(out); // as a former session of the window left it
        AppSettings settings;
        settings.compressionEffort = 3;
        auto state = launch({}, 2, settings);
        QCOMPARE(state->batch()->outputFolder(), out);

        const QString root = m_work + QStringLiteral("/photos/2019");
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), root);
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), root + QStringLiteral("/summer"));
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Sony_HDR-HC3.jpg"), root + QStringLiteral("/summer"), QStringLiteral("Canon_40D.jpg"));
        const QStringList outputs{out + QStringLiteral("/2019/Canon_40D.jxl"), out + QStringLiteral("/2019/summer/Canon_40D.jxl"),
                                  out + QStringLiteral("/2019/summer/Nikon_D70.jxl")};
        TaskList *tasks = state->workspace()->compressTasks();
        const auto run = [&] {
            state->imports()->importURLs({QUrl::fromLocalFile(root)});
            QTRY_COMPARE_WITH_TIMEOUT(tasks->size(), 3, 30000);
            QSignalSpy finished(state->batch(), &BatchController::finished);
            state->runner()->startCurrentProcessing();
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);
        };
        run();
        QStringList written;
        for (const TaskItem &task : tasks->items()) {
            QVERIFY2(task.status == TaskStatus::completed, qPrintable(task.errorMessage.value_or(task.fileName())));
            QVERIFY(QFileInfo::exists(task.sourceURL.toLocalFile())); // kept
            written.append(task.destinationURL->toLocalFile());
        }
        written.sort();
        QCOMPARE(written, outputs);
        for (const QString &output : outputs)
            QVERIFY2(QFileInfo(output).size() > 0, qPrintable(output));
        QCOMPARE(QDir(root).entryList({QStringLiteral("*.jxl")}, QDir::Files), QStringList()); // nothing beside the photos

        // Again over the same photos: every one found done, nothing new written.
        QHash<QString, QDateTime> made;
        for (const QString &output : outputs)
            made.insert(output, QFileInfo(output).lastModified());
        state->workspace()->clearCurrentTasks();
        int skippedSeen = 0; // the batch's own count, seen while it holds the state
        connect(state->batch(), &BatchController::progressChanged, this,
                [&] { skippedSeen = std::max(skippedSeen, state->batch()->skippedCount()); });
        run();
        QCOMPARE(tasks->count(TaskStatus::skipped), 3);
        QCOMPARE(skippedSeen, 3);
        QCOMPARE(tasks->savedBytes(), 0);
        for (const TaskItem &task : tasks->items())
            QCOMPARE(QFileInfo(task.destinationURL->toLocalFile()).lastModified(), made.value(task.destinationURL->toLocalFile()));
        QCOMPARE(QDir(out + QStringLiteral("/2019/summer")).entryList(QDir::Files).size(), 2);

        // Moved beside the photos, then to a folder that is gone (a disk not mounted).
        state->settings()->setOutputFolder(QString());
        QCOMPARE(state->batch()->outputFolder(), QString());
        const QString gone = m_work + QStringLiteral("/unmounted/disk");
        state->settings()->setOutputFolder(gone);
        QCOMPARE(state->batch()->outputFolder(), gone);
        state->workspace()->clearCurrentTasks();
        state->imports()->importURLs({QUrl::fromLocalFile(root)});
        QTRY_COMPARE_WITH_TIMEOUT(tasks->size(), 3, 30000);
        QSignalSpy refused(state->batch(), &BatchController::refused);
        QSignalSpy started(state->batch(), &BatchController::started);
        QSignalSpy warned(state->runner(), &BatchRunner::diskWarningMessageChanged);
        state->runner()->startCurrentProcessing();
        QVERIFY(warned.wait(30000));
        QVERIFY(state->runner()->isOutputFolderMissing());
        QCOMPARE(state->runner()->diskWarningMessage().value_or(QString()),
                 QStringLiteral("输出文件夹不存在：%1。请连接它所在的磁盘，或在设置中另选输出位置。").arg(gone));
        QCOMPARE(started.count(), 0);
        QCOMPARE(refused.count(), 0);
        QVERIFY(!state->runner()->isProcessing());
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/unmounted")));
        QCOMPARE(tasks->count(TaskStatus::pending), 3);
        state->runner()->clearDiskWarning();
        QVERIFY(!state->runner()->isOutputFolderMissing());
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

    // A batch writes where its checks looked: a folder chosen while it runs serves the next one.
    void outputFolderChangedDuringABatch()
    {
        const QString hold = m_work + QStringLiteral("/hold");
        TestEnv::writeAll(hold, "");
        auto state = launch("while [ -e \"$d/hold\" ]; do sleep 0.05; done\n" + TestEnv::writeFakeJxlCommand() + "\n", 1);
        const QString first = m_work + QStringLiteral("/first");
        const QString second = m_work + QStringLiteral("/second");
        QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
        state->settings()->setOutputFolder(first);
        addPhotos(*state, names(QStringLiteral("p"), 2));
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->runner()->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 1, 30000);
        state->settings()->setOutputFolder(second);
        QCOMPARE(state->batch()->outputFolder(), first);
        QFile::remove(hold);
        QVERIFY(finished.wait(30000));
        QCOMPARE(QDir(first + QStringLiteral("/photos")).entryList(QDir::Files), (QStringList{QStringLiteral("p0.jxl"), QStringLiteral("p1.jxl")}));
        QCOMPARE(state->batch()->outputFolder(), second);
        QVERIFY(!QFileInfo::exists(second + QStringLiteral("/photos")));
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
