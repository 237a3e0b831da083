#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/filemanageractions.h"
#include "app/importservice.h"
#include "app/lifetimestats.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "platform/preferences.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

// The composition root: the services it makes work on one set of lists, and together they
// import, retry and run. Each service has its own suite; batches are in tst_batch.
class TestAppState final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    static std::unique_ptr<AppState> launch()
    {
        auto state = std::make_unique<AppState>(BatchFeedback::Devices{});
        // The start-up probe writes a path or the not-installed text; wait for it before anything else.
        if (!QTest::qWaitFor([&] { return !state->tools()->cjxlPath().isEmpty(); }, 30000))
            QTest::qFail("the start-up tool probe never came back", __FILE__, __LINE__);
        return state;
    }

    static int importAndWait(ImportService &imports, const QList<QUrl> &urls)
    {
        QSignalSpy finished(&imports, &ImportService::importFinished);
        imports.importURLs(urls);
        return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000) ? finished.first().first().toInt() : -1;
    }

    QString makeFiles(const QString &folder, const QStringList &names)
    {
        const QString path = m_root.filePath(folder);
        for (const QString &name : names)
            TestEnv::writeAll(QDir(path).filePath(name), TestEnv::fakeJpeg(64));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
    }

    void init() { TestEnv::forgetPreferences(); }

    void servicesShareTheLists()
    {
        auto state = launch();
        for (QObject *service : std::initializer_list<QObject *>{state->settings(), state->tools(), state->workspace(),
                                                                 state->imports(), state->batch(), state->runner(),
                                                                 state->stats(), state->fileManagerActions()})
            QVERIFY(service && service->parent() == state.get());
        QCOMPARE(state->runner()->batch(), state->batch());

        // A batch starts on the shown list: nothing waits in the restore list.
        TaskItem waiting;
        waiting.sourceURL = QUrl::fromLocalFile(makeFiles(QStringLiteral("shared"), {QStringLiteral("a.jpg")}) + QStringLiteral("/a.jpg"));
        waiting.originalSize = 64;
        state->workspace()->compressTasks()->append({waiting});
        state->workspace()->switchMode(ConversionMode::jxlToJPEG);
        state->runner()->startCurrentProcessing();
        QVERIFY(!state->batch()->isPreparing());
        state->workspace()->switchMode(ConversionMode::jpegToJXL);
        state->runner()->startCurrentProcessing();
        QVERIFY(state->batch()->isPreparing());
        state->runner()->cancel();
        QVERIFY(!state->batch()->isPreparing() && !state->runner()->isProcessing());
    }

    void namesThatAreNotUtf8AndUnreachablePaths()
    {
        // "bad\xFF.jpg" (raw byte FF) is not UTF-8 and displays as the text "bad\\xFF.jpg",
        // which here is the name of another, real photo.
        const QString folder = makeFiles(QStringLiteral("unnamed"), {QStringLiteral("ok.jpg"), QStringLiteral("bad\\xFF.jpg")});
        const QByteArray raw = QFile::encodeName(folder) + "/bad\xFF.jpg";
        const QList<QByteArray> rawNames{"/bad\xFF.jpg", "/caf\xE9.jpg", "/other\xFE.jxl"};
        for (const QByteArray &name : rawNames) {
            const int fd = ::open(QByteArray(QFile::encodeName(folder) + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, "raw", 3), ssize_t(3));
            ::close(fd);
        }
        const QString lookAlike = folder + QStringLiteral("/bad\\xFF.jpg");
        const QString missing = folder + QStringLiteral("/no/such/path");
        const QList<QUrl> urls{QUrl::fromLocalFile(folder), QUrl::fromLocalFile(missing)};
        auto state = launch();
        AppSettings settings = state->settings()->settings();
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/cjxl")), TestEnv::writeFakeJxlCommand());
        state->settings()->setSettings(settings);
        QSignalSpy problems(state->imports(), &ImportService::importProblemsChanged);

        // JPEGs that cannot be named are failed jobs, each its own; the JXL is of the other direction.
        QCOMPARE(importAndWait(*state->imports(), urls), 4);
        QCOMPARE(state->imports()->importProblems(), QStringList{QStringLiteral("找不到指定文件: ") + missing});
        QCOMPARE(problems.count(), 1);
        TaskList *list = state->workspace()->compressTasks();
        QCOMPARE(std::count_if(list->items().cbegin(), list->items().cend(),
                               [](const TaskItem &task) { return !task.isRunnable(); }),
                 2);
        const auto unnamed = std::find_if(list->items().cbegin(), list->items().cend(), [](const TaskItem &task) {
            return !task.isRunnable() && task.fileName() == QStringLiteral("bad\\xFF.jpg");
        });
        QVERIFY(unnamed != list->items().cend());
        const TaskItem refused = *unnamed;
        QCOMPARE(refused.status, TaskStatus::failed);
        QCOMPARE(refused.errorMessage, std::optional<QString>(QStringLiteral("文件名不是有效的 UTF-8 编码，无法处理")));
        QCOMPARE(refused.fileName(), QStringLiteral("bad\\xFF.jpg"));
        QCOMPARE(refused.sourcePathText(), lookAlike);
        QVERIFY(refused.sourceURL.toLocalFile().isEmpty()); // it names no file, the look-alike least of all
        QCOMPARE(list->count(TaskStatus::pending), 2);        // ok.jpg and the look-alike, a job of its own
        QCOMPARE(importAndWait(*state->imports(), urls), 0); // each once, like any other file
        QCOMPARE(problems.count(), 1);                         // the same problems: no change

        // A retry runs the others; it stays failed with its text and no file is touched for it.
        QSignalSpy finished(state->batch(), &BatchController::finished);
        state->workspace()->retryFailedTasks();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(list->count(TaskStatus::completed), 2);
        QVERIFY(*list->find(refused.id) == refused);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/bad\\xFF.jxl")));
        struct stat rawInfo;
        QVERIFY(::stat(raw.constData(), &rawInfo) == 0 && rawInfo.st_size == 3);
        QVERIFY(::access(QByteArray(QFile::encodeName(folder) + "/bad\xFF.jxl").constData(), F_OK) != 0);
        state->runner()->startCurrentProcessing(); // only it is left failed: nothing starts
        QVERIFY(!state->batch()->isPreparing() && !state->runner()->isProcessing());

        // An import that reaches everything clears the problems; so does the window.
        QCOMPARE(importAndWait(*state->imports(), {QUrl::fromLocalFile(folder)}), 0);
        QVERIFY(state->imports()->importProblems().isEmpty());
        QCOMPARE(importAndWait(*state->imports(), {QUrl::fromLocalFile(missing)}), 0);
        state->imports()->clearImportProblems();
        QVERIFY(state->imports()->importProblems().isEmpty());
        QCOMPARE(problems.count(), 4);
        for (const QByteArray &name : rawNames)
            QCOMPARE(::unlink(QByteArray(QFile::encodeName(folder) + name).constData()), 0);
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
