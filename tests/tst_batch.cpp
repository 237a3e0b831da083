#include "app/appstate.h"
#include "app/dockprogressmanager.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"
#include "recordingfeedback.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QDBusConnection fakeBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
}

// Fake encoders start with this: it logs each start with how many copies run at that moment,
// and a start while another live copy still works on the same file. The body that follows
// writes the output ("$2"); kEpilogue ends every script.
const QByteArray kPrelude = R"sh(name=$(basename "$1")
for f in "$d/running/$name".*; do
  [ -e "$f" ] && kill -0 "${f##*.}" 2>/dev/null && echo "double $name" >> "$d/log"
done
touch "$d/running/$name.$$"
echo "start $name $(ls "$d/running" | wc -l)" >> "$d/log"
)sh";
const QByteArray kEpilogue = "rm -f \"$d/running/$name.$$\"\n";

QByteArray slowly(const char *seconds)
{
    return QByteArray("sleep ") + seconds + " >/dev/null 2>&1\nprintf x > \"$2\"\n";
}

QStringList names(const QString &stem, int count)
{
    QStringList out;
    for (int i = 0; i < count; ++i)
        out.append(stem + QString::number(i) + QStringLiteral(".jpg"));
    return out;
}

} // namespace

// The portal's Request made for each inhibit; Close ends the inhibition.
class FakeRequest final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    FakeRequest(int *closed, QObject *parent) : QObject(parent), m_closed(closed) {}
public slots:
    void Close() { ++*m_closed; }
private:
    int *m_closed;
};

// Stands in for the desktop portal, to see the sleep inhibitor taken and given back.
class FakePortal final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    int calls = 0;
    int closed = 0;
public slots:
    QDBusObjectPath Inhibit(const QString &, uint, const QVariantMap &)
    {
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/1_1/t%1").arg(++calls);
        fakeBus().registerObject(path, new FakeRequest(&closed, this), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }
};

// Batches run through AppState with fake encoders that record what ran when, and once with
// the real tools on real photos.
class TestBatch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work; // one folder per test: the fake tool, its log, running/ and photos/
    std::unique_ptr<FakePortal> m_portal;
    std::unique_ptr<DockProgressManager> m_dock;
    RecordingHaptics m_haptics;
    RecordingSound m_sound;

    std::unique_ptr<AppState> launch(const QByteArray &toolBody, int jobs, const AppSettings &settings = AppSettings())
    {
        AppState::Feedback feedback;
        feedback.dock = m_dock.get();
        feedback.sound = &m_sound;
        feedback.haptics = &m_haptics;
        auto state = std::make_unique<AppState>(feedback);
        state->setSettings(settings); // by default: keep the originals, so nothing is verified
        RunOverrides overrides;
        overrides.jobs = jobs;
        if (!toolBody.isEmpty()) {
            const QByteArray folder = "d='" + QFile::encodeName(m_work) + "'\n";
            overrides.customCjxlPath =
                TestEnv::writeScript(m_work + QStringLiteral("/cjxl"), folder + kPrelude + toolBody + kEpilogue);
        }
        state->setRunOverrides(overrides);
        if (!QTest::qWaitFor([&] { return !state->cjxlPath().isEmpty(); }, 30000))
            QTest::qFail("the start-up tool probe never came back", __FILE__, __LINE__);
        return state;
    }

    QList<TaskItem> addPhotos(AppState &state, const QStringList &files)
    {
        QList<TaskItem> tasks;
        for (const QString &name : files) {
            const QString path = m_work + QStringLiteral("/photos/") + name;
            TestEnv::writeAll(path, QByteArray(1000, 'j'));
            TaskItem task;
            task.sourceURL = QUrl::fromLocalFile(path);
            task.originalSize = 1000;
            tasks.append(task);
        }
        state.compressTasks()->append(tasks);
        return tasks;
    }

    QStringList starts() const
    {
        return QString::fromUtf8(TestEnv::readAll(m_work + QStringLiteral("/log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    int portalCalls() const { return m_portal ? m_portal->calls : 0; }
    int portalClosed() const { return m_portal ? m_portal->closed : 0; }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
        if (QDBusConnection::sessionBus().isConnected()) {
            m_portal = std::make_unique<FakePortal>();
            QVERIFY(fakeBus().registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), m_portal.get(),
                                             QDBusConnection::ExportAllSlots));
            QVERIFY(fakeBus().registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        }
    }

    void init()
    {
        m_work = m_root.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        if (const char *tag = QTest::currentDataTag())
            m_work += QLatin1Char('/') + QString::fromLatin1(tag).replace(QLatin1Char(' '), QLatin1Char('_'));
        QVERIFY(QDir().mkpath(m_work + QStringLiteral("/running")));
        Preferences store;
        store.remove(AppState::lifetimeBytesKey);
        store.remove(AppState::lifetimeCountKey);
        m_dock = std::make_unique<DockProgressManager>();
        m_haptics.played.clear();
        m_sound.played = 0;
        if (m_portal)
            m_portal->calls = m_portal->closed = 0;
    }

    void cleanup()
    {
        if (m_portal) // every batch gives the sleep inhibitor back
            QTRY_COMPARE_WITH_TIMEOUT(m_portal->closed, m_portal->calls, 10000);
    }

    void windowLimitsJobsInFlight_data()
    {
        QTest::addColumn<int>("jobs");
        QTest::addColumn<int>("files");
        QTest::addColumn<QByteArray>("pause");
        QTest::newRow("3 waiting, 8 allowed") << 8 << 3 << QByteArray("1");
        QTest::newRow("20 waiting, 4 allowed") << 4 << 20 << QByteArray("0.3");
    }

    void windowLimitsJobsInFlight()
    {
        QFETCH(int, jobs);
        QFETCH(int, files);
        QFETCH(QByteArray, pause);
        auto state = launch(slowly(pause.constData()), jobs);
        addPhotos(*state, names(QStringLiteral("w"), files));
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);

        const QStringList log = starts();
        QCOMPARE(log.size(), files); // every job ran once
        int most = 0;
        for (const QString &line : log)
            most = std::max(most, line.section(QLatin1Char(' '), 2).toInt());
        qDebug() << "most tools at once:" << most;
        if (files < jobs) {
            QCOMPARE(most, files); // the window is the queue's length, all start together
        } else {
            QVERIFY2(most <= jobs, qPrintable(log.join(QLatin1Char(';'))));
            QVERIFY(most >= 2);
        }
        QCOMPARE(state->compressTasks()->count(TaskStatus::completed), files);
    }

    void countersAndDockAfterEachJob()
    {
        // "big" gets an output larger than its source: it completes but saves nothing.
        auto state = launch(R"sh(case "$name" in
  big*) head -c 5000 /dev/zero > "$2" ;;
  *) printf x > "$2" ;;
esac
)sh",
                            1);
        addPhotos(*state, {QStringLiteral("a.jpg"), QStringLiteral("big.jpg"), QStringLiteral("b.jpg")});
        QList<QList<qint64>> counted; // in memory and in a fresh preference store, at each change
        connect(state.get(), &AppState::lifetimeProcessedCountChanged, this, [&] {
            Preferences fresh;
            counted.append({state->lifetimeSavedBytes(), state->lifetimeProcessedCount(),
                            fresh.int64(AppState::lifetimeBytesKey).value_or(-1),
                            fresh.int64(AppState::lifetimeCountKey).value_or(-1)});
        });
        QStringList dock;
        connect(m_dock.get(), &DockProgressManager::changed, this,
                [&] { dock.append(m_dock->isShowing() ? m_dock->text() : QStringLiteral("reset")); });
        QSignalSpy finished(state.get(), &AppState::batchFinished);

        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(finished.first().first().value<ConversionMode>(), ConversionMode::jpegToJXL);
        QCOMPARE(counted, (QList<QList<qint64>>{{999, 1, 999, 1}, {1998, 2, 1998, 2}}));
        QCOMPARE(dock, (QStringList{QStringLiteral("1/3"), QStringLiteral("2/3"), QStringLiteral("3/3"),
                                    QStringLiteral("reset")}));
        using enum HapticPattern;
        QCOMPARE(m_haptics.played, (QList<HapticPattern>{alignment, generic, generic, generic}));
        QCOMPARE(m_sound.played, 1);
        QCOMPARE(state->compressTasks()->count(TaskStatus::completed), 3);
        QCOMPARE(portalCalls(), m_portal ? 1 : 0);
    }

    void followUpBatchForJobsAddedMeanwhile()
    {
        auto state = launch(slowly("1"), 2);
        addPhotos(*state, names(QStringLiteral("first"), 2));
        QList<bool> processing;
        QList<int> soundsAtChange;
        connect(state.get(), &AppState::isProcessingChanged, this, [&] {
            processing.append(state->isProcessing());
            soundsAtChange.append(m_sound.played);
        });
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();

        const QString later = m_work + QStringLiteral("/later");
        for (const QString &name : names(QStringLiteral("later"), 3))
            TestEnv::writeAll(later + QLatin1Char('/') + name, QByteArray(1000, 'j'));
        QSignalSpy imported(state.get(), &AppState::importFinished);
        state->importURLs({QUrl::fromLocalFile(later)});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 1, 30000);
        QCOMPARE(imported.first().first().toInt(), 3);
        QVERIFY(state->isProcessing()); // imported while the first batch runs

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QTest::qWait(200);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(processing, (QList<bool>{true, false, true, false})); // a follow-up batch ran
        QCOMPARE(soundsAtChange, (QList<int>{0, 0, 0, 0}));             // no sound before it started
        QCOMPARE(m_sound.played, 1);                                     // one, at the very end
        QCOMPARE(state->compressTasks()->count(TaskStatus::completed), 5);
        QCOMPARE(starts().size(), 5);
        QCOMPARE(m_dock->text(), QStringLiteral("5/5"));
        QVERIFY(!m_dock->isShowing());
        QCOMPARE(portalCalls(), m_portal ? 1 : 0); // one activity through both batches
    }

    void diskRefusal()
    {
        const QString prefix = QString::fromUtf8("磁盘空间不足：当前卷剩余可用空间仅 ");
        auto state = launch(slowly("1"), 2);
        TaskItem huge = addPhotos(*state, {QStringLiteral("huge.jpg")}).first();
        huge.originalSize = qint64(1) << 60;
        QVERIFY(state->compressTasks()->replace(huge));
        QSignalSpy processing(state.get(), &AppState::isProcessingChanged);

        state->startCurrentProcessing();
        const QString message = state->diskWarningMessage().value_or(QString());
        QVERIFY2(message.startsWith(prefix), qPrintable(message));
        QVERIFY(message.endsWith(QString::fromUtf8("，本批次转码预估需要约 ") + formattedBytes(huge.originalSize + 524288000)
                                 + QString::fromUtf8("。请先清理磁盘空间以防文件写入截断。")));
        QVERIFY(!state->isProcessing());
        QCOMPARE(processing.count(), 0);
        QCOMPARE(m_haptics.played, QList<HapticPattern>{HapticPattern::alignment});
        QCOMPARE(portalCalls(), 0);
        state->clearDiskWarning();
        state->removeTask(huge);

        // A follow-up refused for space ends the batch with all its finish steps.
        addPhotos(*state, {QStringLiteral("small.jpg")});
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        huge.id = QUuid::createUuid();
        state->compressTasks()->append({huge});
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QVERIFY(state->diskWarningMessage().value_or(QString()).startsWith(prefix));
        QVERIFY(!state->isProcessing());
        QVERIFY(!m_dock->isShowing());
        QCOMPARE(m_sound.played, 1);
        QCOMPARE(state->compressTasks()->find(huge.id)->status, TaskStatus::pending);
    }

    void cancelDuringBatch()
    {
        // p0 is quick, so the dock shows progress before the cancel; the others take long.
        auto state = launch(R"sh(case "$name" in
  p0.jpg) ;;
  *) sleep 3 >/dev/null 2>&1 ;;
esac
printf x > "$2"
)sh",
                            2);
        const QList<TaskItem> tasks = addPhotos(*state, names(QStringLiteral("p"), 5));
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 3, 30000); // p0 done, p1 and p2 running
        QTRY_VERIFY_WITH_TIMEOUT(m_dock->isShowing(), 30000);
        const QList<HapticPattern> hapticsBefore = m_haptics.played;

        state->cancel();
        QVERIFY(!state->isProcessing());
        QVERIFY(!m_dock->isShowing());
        TaskList *list = state->compressTasks();
        QTRY_COMPARE_WITH_TIMEOUT(list->count(TaskStatus::pending), 4, 30000);
        QTest::qWait(500); // time for a queued job to start, were it going to
        QCOMPARE(starts().size(), 3);
        for (int i = 1; i < 5; ++i)
            QVERIFY(!list->find(tasks[i].id)->destinationURL && !list->find(tasks[i].id)->compressedSize);
        // The sources and p0's output; nothing half-written, hidden or not.
        QStringList expected = names(QStringLiteral("p"), 5) << QStringLiteral("p0.jxl");
        expected.sort();
        QCOMPARE(QDir(m_work + QStringLiteral("/photos")).entryList(QDir::Files | QDir::Hidden, QDir::Name), expected);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(m_sound.played, 0);
        QCOMPARE(m_haptics.played, hapticsBefore);
    }

    void startRightAfterCancel()
    {
        // Tools that ignore SIGTERM linger until killed after the grace period, past the new start.
        auto state = launch("trap '' TERM\n" + slowly("4"), 2);
        const QList<TaskItem> tasks = addPhotos(*state, names(QStringLiteral("q"), 4));
        TaskList *list = state->compressTasks();
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(starts().size(), 2, 30000);

        state->cancel();
        state->startCurrentProcessing();
        QVERIFY(state->isProcessing());
        int dockChanges = 0;
        connect(m_dock.get(), &DockProgressManager::changed, this, [&dockChanges] { ++dockChanges; });
        // Right after an old job is given back and its batch has handled it: the new batch is untouched.
        struct Seen { bool processing; int dockChanges; int portalClosed; };
        QList<Seen> seen;
        QSet<QUuid> returned;
        connect(list, &TaskList::rowChanged, this, [&](qsizetype row) {
            const TaskItem &task = list->at(row);
            if ((task.id != tasks[0].id && task.id != tasks[1].id) || task.status != TaskStatus::pending
                || returned.contains(task.id))
                return;
            returned.insert(task.id);
            QMetaObject::invokeMethod(
                this, [&] { seen.append({state->isProcessing(), dockChanges, portalClosed()}); }, Qt::QueuedConnection);
        });

        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(seen.size(), 2);
        for (const Seen &s : seen) {
            QVERIFY(s.processing);
            QCOMPARE(s.dockChanges, 0);
            QCOMPARE(s.portalClosed, m_portal ? 1 : 0); // only the cancelled batch's activity ended
        }
        const QString log = starts().join(QLatin1Char(';'));
        QVERIFY2(!log.contains(QStringLiteral("double")), qPrintable(log)); // never two tools on one file
        QCOMPARE(starts().size(), 6); // q0 q1; q2 q3 in the new batch; q0 q1 again in its follow-up
        QCOMPARE(list->count(TaskStatus::completed), 4);
        QCOMPARE(m_sound.played, 1);
        QVERIFY(QDir(m_work + QStringLiteral("/photos")).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).isEmpty());
    }

    void removingARunningJob()
    {
        auto state = launch(slowly("1"), 2);
        TaskTableModel model;
        model.setList(state->compressTasks());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QList<TaskItem> tasks = addPhotos(*state, names(QStringLiteral("r"), 3));
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QCOMPARE(state->compressTasks()->find(tasks[0].id)->status, TaskStatus::processing);

        state->removeTask(tasks[0]);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        TaskList *list = state->compressTasks();
        QCOMPARE(list->size(), 2);
        QVERIFY(!list->find(tasks[0].id));
        QCOMPARE(list->count(TaskStatus::completed), 2);
        QCOMPARE(starts().size(), 3);
        QCOMPARE(m_dock->text(), QStringLiteral("2/2"));
        QCOMPARE(state->lifetimeProcessedCount(), 3); // the removed job's bytes were still saved
    }

    void failedJobsRetriedByPlainStart()
    {
        auto state = launch("[ -e \"$d/fail\" ] && { echo broken >&2; rm -f \"$d/running/$name.$$\"; exit 1; }\n"
                            "printf x > \"$2\"\n",
                            2);
        TestEnv::writeAll(m_work + QStringLiteral("/fail"), {});
        const QList<TaskItem> tasks = addPhotos(*state, names(QStringLiteral("f"), 2));
        TaskList *list = state->compressTasks();
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(list->count(TaskStatus::failed), 2); // failed jobs start no follow-up batch
        QCOMPARE(m_dock->text(), QStringLiteral("2/2"));
        const std::optional<QString> message = list->find(tasks[0].id)->errorMessage;
        QVERIFY(message && message->contains(QStringLiteral("broken")));

        QVERIFY(QFile::remove(m_work + QStringLiteral("/fail")));
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QCOMPARE(list->count(TaskStatus::completed), 2);
        QCOMPARE(list->find(tasks[0].id)->errorMessage, message); // a plain start leaves it alone
        state->startCurrentProcessing(); // nothing waits any more
        QVERIFY(!state->isProcessing());
        QCOMPARE(starts().size(), 4);
    }

    void realPhotosEndToEnd()
    {
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty() || TestEnv::installedTool(QStringLiteral("djxl")).isEmpty())
            QSKIP("cjxl and djxl are not installed");
        AppSettings settings;
        settings.deleteStrategy = DeleteStrategy::moveToTrash; // verified against the source first
        settings.compressionEffort = 3;
        auto state = launch({}, 2, settings);
        const QStringList photos{QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg"),
                                 QStringLiteral("Sony_HDR-HC3.jpg")};
        const QString folder = m_work + QStringLiteral("/photos");
        for (const QString &photo : photos)
            TestEnv::copyData(QStringLiteral("jpeg/cameras/") + photo, folder);
        QSignalSpy imported(state.get(), &AppState::importFinished);
        state->importURLs({QUrl::fromLocalFile(folder)});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 1, 30000);
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 120000);

        qint64 saved = 0;
        for (const TaskItem &task : state->compressTasks()->items()) {
            QVERIFY2(task.status == TaskStatus::completed, qPrintable(task.errorMessage.value_or(task.fileName())));
            QVERIFY(task.isVerified);
            QCOMPARE(QFileInfo(task.destinationURL->toLocalFile()).size(), *task.compressedSize);
            QVERIFY(!QFileInfo::exists(task.sourceURL.toLocalFile()));
            saved += task.savedBytes();
        }
        QVERIFY(saved > 0);
        QCOMPARE(state->lifetimeSavedBytes(), saved);
        QCOMPARE(Preferences().int64(AppState::lifetimeBytesKey), std::optional<qint64>(saved));
        const QString trash = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/Trash/files");
        QCOMPARE(QDir(trash).entryList(QDir::Files, QDir::Name), photos);
        QCOMPARE(m_sound.played, 1);
        QCOMPARE(portalCalls(), m_portal ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(portalClosed(), portalCalls(), 10000); // the sleep inhibitor is idle again
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
