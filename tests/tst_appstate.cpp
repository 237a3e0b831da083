#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "engine/jxlengine.h"
#include "platform/preferences.h"
#include "recordingfeedback.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

Q_DECLARE_METATYPE(TaskSortKey)

// The application state without a window: start-up and persistence, the tool probe, import
// and the list operations, the table model and sorting. Batches are in tst_batch.
class TestAppState final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_fakeTool; // an executable that stands in for a custom cjxl or djxl
    RecordingHaptics m_haptics;

    std::unique_ptr<AppState> launch()
    {
        auto state = std::make_unique<AppState>(AppState::Feedback{nullptr, nullptr, nullptr, &m_haptics, false});
        // The start-up probe writes a path or the not-installed text; wait for it before anything else.
        if (!QTest::qWaitFor([&] { return !state->cjxlPath().isEmpty(); }, 30000))
            QTest::qFail("the start-up tool probe never came back", __FILE__, __LINE__);
        return state;
    }

    static int importAndWait(AppState &state, const QList<QUrl> &urls)
    {
        QSignalSpy finished(&state, &AppState::importFinished);
        state.importURLs(urls);
        return QTest::qWaitFor([&] { return !finished.isEmpty(); }, 60000) ? finished.first().first().toInt() : -1;
    }

    QString makeFiles(const QString &folder, const QStringList &names)
    {
        const QString path = m_root.filePath(folder);
        for (const QString &name : names)
            TestEnv::writeAll(QDir(path).filePath(name), TestEnv::fakeJpeg(4));
        return path;
    }

    static TaskItem makeTask(const QString &path, ConversionMode mode = ConversionMode::jpegToJXL)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(path);
        task.mode = mode;
        task.originalSize = 4;
        return task;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
        m_fakeTool = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/tool")), "exit 0");
    }

    void init()
    {
        Preferences store;
        for (const QString &key : {AppState::settingsKey, AppState::lifetimeBytesKey, AppState::lifetimeCountKey})
            store.remove(key);
        store.sync();
        m_haptics.played.clear();
    }

    void startUpAndSettings_data()
    {
        QTest::addColumn<QByteArray>("stored");
        AppSettings custom;
        custom.customCjxlPath = m_fakeTool;
        QTest::newRow("first launch") << QByteArray();
        QTest::newRow("valid, indented") << QJsonDocument::fromJson(encodeSettings(custom)).toJson(QJsonDocument::Indented);
        QTest::newRow("not JSON") << QByteArrayLiteral("{\"deleteStrategy\": trash");
    }

    void startUpAndSettings()
    {
        QFETCH(QByteArray, stored);
        if (!stored.isEmpty())
            Preferences().setData(AppState::settingsKey, stored);
        const std::optional<AppSettings> decoded = decodeSettings(stored);
        auto state = launch();
        QVERIFY(state->settings() == decoded.value_or(AppSettings()));
        // A loaded record is written back in its own encoding; anything else stays as it was.
        QCOMPARE(Preferences().data(AppState::settingsKey), decoded ? encodeSettings(*decoded) : stored);
        // Exactly the eleven keys: a record with a twelfth would not load in an older version.
        QCOMPARE(QJsonDocument::fromJson(encodeSettings(state->settings())).object().keys(),
                 (QStringList{QStringLiteral("autoCheckForUpdates"), QStringLiteral("compressionEffort"),
                              QStringLiteral("concurrency"), QStringLiteral("concurrencyMode"), QStringLiteral("customCjxlPath"),
                              QStringLiteral("customDjxlPath"), QStringLiteral("customUpdateFeedURL"),
                              QStringLiteral("deleteStrategy"), QStringLiteral("hapticFeedbackEnabled"),
                              QStringLiteral("soundFeedbackEnabled"), QStringLiteral("verifyLossless")}));
        QCOMPARE(state->cjxlPath() == m_fakeTool, decoded.has_value()); // the probe took the custom path
        AppSettings changed = state->settings();
        changed.compressionEffort = 9;
        state->setSettings(changed);
        QCOMPARE(Preferences().data(AppState::settingsKey), encodeSettings(changed)); // saved at once
    }

    void lifetimeCountersReadBackAsText()
    {
        // QSettings' INI file gives a new process text, and the byte count outgrows a double.
        {
            QSettings raw(Preferences().fileName(), QSettings::IniFormat);
            raw.setValue(AppState::lifetimeBytesKey, QStringLiteral("9007199254740993"));
            raw.setValue(AppState::lifetimeCountKey, QStringLiteral("7"));
        }
        auto state = launch();
        QCOMPARE(state->lifetimeSavedBytes(), (qint64(1) << 53) + 1);
        QCOMPARE(state->lifetimeProcessedCount(), 7);
    }

    void toolProbe()
    {
        // The run's overrides win over the settings; the probe answers later, from the event loop.
        auto state = launch();
        RunOverrides overrides;
        overrides.customDjxlPath = m_fakeTool;
        state->setRunOverrides(overrides);
        QSignalSpy probed(state.get(), &AppState::toolStatusChanged);
        state->checkEnvironment();
        QCOMPARE(probed.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 1, 30000);
        QCOMPARE(state->djxlPath(), m_fakeTool);

        // A new custom tool path is probed at once; other settings changes probe nothing.
        AppSettings settings = state->settings();
        settings.compressionEffort = 3;
        state->setSettings(settings);
        settings.customCjxlPath = m_fakeTool;
        state->setSettings(settings);
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 2, 30000);
        QCOMPARE(state->cjxlPath(), m_fakeTool);
        QTest::qWait(200);
        QCOMPARE(probed.count(), 2);
        QCOMPARE(AppState::notInstalledText(), QString::fromUtf8("未安装 (通过 APT: sudo apt install libjxl-tools)"));
    }

    void listOperationsAndQuickLook()
    {
        auto state = launch();
        TaskList *compress = state->compressTasks();
        TaskList *restore = state->restoreTasks();
        QList<TaskItem> c;
        QList<TaskItem> r;
        for (int i = 0; i < 4; ++i) {
            c.append(makeTask(QStringLiteral("/list/c%1.jpg").arg(i)));
            r.append(makeTask(QStringLiteral("/list/r%1.jxl").arg(i), ConversionMode::jxlToJPEG));
        }
        c[0].destinationURL = QUrl::fromLocalFile(QStringLiteral("/list/c0.jxl"));
        c[0].status = TaskStatus::completed;
        // A failed job's destination may be somebody else's file: never shown for it.
        c[3].destinationURL = QUrl::fromLocalFile(QStringLiteral("/list/c3.jxl"));
        c[3].status = TaskStatus::failed;
        compress->append(c);
        restore->append(r);

        // removeTask works on the job's own list, whichever is shown, and keeps the order of the rest.
        state->setSelectedTaskIds({c[0].id, r[1].id});
        state->removeTask(r[1]);
        QVERIFY(restore->indexOf(r[1].id) < 0 && restore->indexOf(r[3].id) == 2);
        QCOMPARE(state->selectedTaskIds(), QSet<QUuid>{c[0].id});

        // Quick look: the given job, else the selected one of the shown list; a completed job's
        // result before its source, any other job's source.
        state->triggerQuickLook(std::nullopt);
        QCOMPARE(state->previewItemURL(), c[0].destinationURL);
        state->triggerQuickLook(c[3]);
        QCOMPARE(state->previewItemURL(), std::optional<QUrl>(c[3].sourceURL));
        state->triggerQuickLook(c[1]);
        QCOMPARE(state->previewItemURL(), std::optional<QUrl>(c[1].sourceURL));
        state->setSelectedTaskIds({r[0].id}); // not in the shown list: nothing changes
        state->triggerQuickLook(std::nullopt);
        QCOMPARE(state->previewItemURL(), std::optional<QUrl>(c[1].sourceURL));

        // Selected ids of the other list leave the selection; their jobs stay.
        state->setSelectedTaskIds({c[1].id, c[2].id, r[0].id});
        state->switchMode(ConversionMode::jpegToJXL); // already shown: the selection stays
        state->removeSelectedTasks();
        QVERIFY(compress->size() == 2 && compress->indexOf(c[3].id) == 1);
        QCOMPARE(restore->size(), 3);
        QVERIFY(state->selectedTaskIds().isEmpty());

        state->selectAllTasks();
        QCOMPARE(state->selectedTaskIds(), (QSet<QUuid>{c[0].id, c[3].id}));
        state->switchMode(ConversionMode::jxlToJPEG);
        QVERIFY(state->selectedTaskIds().isEmpty());
        state->selectAllTasks();
        QCOMPARE(state->selectedTaskIds().size(), 3);
        state->clearCurrentTasks();
        QVERIFY(restore->isEmpty() && state->selectedTaskIds().isEmpty());
        QCOMPARE(compress->size(), 2);
    }

    void importRules()
    {
        auto state = launch();
        TaskList *compress = state->compressTasks();
        const QString a = makeFiles(QStringLiteral("rules/a"), {QStringLiteral("x.jpg"), QStringLiteral("y.jpeg"),
                                                                QStringLiteral("z.jxl"), QStringLiteral("notes.txt")});
        const QString b = makeFiles(QStringLiteral("rules/b"), {QStringLiteral("w.jpg")});
        QSignalSpy imported(state.get(), &AppState::importFinished);
        QList<bool> scanningAtMerge;
        connect(state.get(), &AppState::importFinished, this,
                [&scanningAtMerge, &state] { scanningAtMerge.append(state->isScanning()); });
        state->importURLs({QUrl::fromLocalFile(a)});
        // Two spellings of one file in one drop.
        state->importURLs({QUrl::fromLocalFile(b + QStringLiteral("/w.jpg")), QUrl::fromLocalFile(b + QStringLiteral("/../b/w.jpg"))});
        QVERIFY(state->isScanning() && imported.isEmpty()); // merged later, from the event loop
        state->switchMode(ConversionMode::jxlToJPEG);         // the imports keep the direction they began in
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 2, 60000);
        QCOMPARE(scanningAtMerge, (QList<bool>{true, false})); // scanning while any scan runs
        for (const TaskItem &task : compress->items())
            QVERIFY(task.mode == ConversionMode::jpegToJXL && task.status == TaskStatus::pending && task.originalSize == 4);

        // A JPEG dropped while restore is shown lands nowhere; the scan result is still kept.
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(a + QStringLiteral("/x.jpg"))}), 0);
        QCOMPARE(state->currentScanResult()->jpegFiles.size(), 1);
        QVERIFY(state->restoreTasks()->isEmpty());
        state->switchMode(ConversionMode::jpegToJXL);
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(a)}), 0); // the same folder again
        // A file some job already writes to is not a new job.
        const QString c = makeFiles(QStringLiteral("rules/c"), {QStringLiteral("taken.jpg")});
        TaskItem writer = makeTask(c + QStringLiteral("/source.png"));
        writer.destinationURL = QUrl::fromLocalFile(c + QStringLiteral("/../c/taken.jpg"));
        compress->append({writer});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(c)}), 0);
        QCOMPARE(compress->size(), 4);
        QCOMPARE(m_haptics.played.size(), 4); // two switches, and only the imports that added jobs

        // A scan that ends before its continuation is attached must still merge from the event
        // loop, never inside importURLs(): callers connect after calling. Rare, so tried often.
        for (int round = 1; round <= 3000; ++round) {
            const qsizetype before = imported.count();
            state->importURLs({});
            QCOMPARE(imported.count(), before);
            QVERIFY(imported.wait(10000));
        }
    }

    void longImportsMergeInTurns()
    {
        // More photos than one turn of the event loop takes: they go in over several turns, the
        // import counting as running until the last, and a second drop of the same folder in
        // the meantime adds nothing twice.
        auto state = launch();
        TaskList *compress = state->compressTasks();
        QStringList names;
        for (int i = 0; i < AppState::kMergeChunk + 7; ++i)
            names.append(QStringLiteral("p%1.jpg").arg(i));
        const QString folder = makeFiles(QStringLiteral("long"), names);
        QSignalSpy imported(state.get(), &AppState::importFinished);
        struct Turn
        {
            qsizetype rows;
            bool scanning;
            qsizetype finished;
        };
        QList<Turn> turns;
        connect(compress, &TaskList::rowsInserted, this, [&](qsizetype first, qsizetype last) {
            turns.append({last - first + 1, state->isScanning(), imported.count()});
        });
        state->importURLs({QUrl::fromLocalFile(folder)});
        state->importURLs({QUrl::fromLocalFile(folder)});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 2, 60000);
        QCOMPARE(compress->size(), AppState::kMergeChunk + 7);
        QCOMPARE(imported.at(0).first().toInt() + imported.at(1).first().toInt(), AppState::kMergeChunk + 7);
        QVERIFY(turns.size() >= 2);
        QCOMPARE(turns.first().rows, AppState::kMergeChunk);
        QVERIFY(turns.first().scanning);
        QCOMPARE(turns.first().finished, 0);
        QVERIFY(!state->isScanning());
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
        AppSettings settings = state->settings();
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/cjxl")), TestEnv::writeFakeJxlCommand());
        state->setSettings(settings);
        QSignalSpy problems(state.get(), &AppState::importProblemsChanged);

        // JPEGs that cannot be named are failed jobs, each its own; the JXL is of the other direction.
        QCOMPARE(importAndWait(*state, urls), 4);
        QCOMPARE(state->importProblems(), QStringList{QStringLiteral("找不到指定文件: ") + missing});
        QCOMPARE(problems.count(), 1);
        TaskList *list = state->compressTasks();
        QCOMPARE(std::count_if(list->items().cbegin(), list->items().cend(),
                               [](const TaskItem &task) { return !task.isRunnable(); }),
                 2);
        const auto unnamed = std::find_if(list->items().cbegin(), list->items().cend(), [](const TaskItem &task) {
            return !task.isRunnable() && task.fileName() == QStringLiteral("bad\\xFF.jpg");
        });
        QVERIFY(unnamed != list->items().cend());
        const TaskItem refused = *unnamed;
        QCOMPARE(refused.status, TaskStatus::failed);
        QCOMPARE(refused.errorMessage, std::optional<QString>(QStringLiteral("文件名不是有效的 UTF-8 编码，无法安全处理，请先重命名: ") + lookAlike));
        QCOMPARE(refused.fileName(), QStringLiteral("bad\\xFF.jpg"));
        QCOMPARE(refused.sourcePathText(), lookAlike);
        QVERIFY(refused.sourceURL.toLocalFile().isEmpty()); // it names no file, the look-alike least of all
        QCOMPARE(list->count(TaskStatus::pending), 2);        // ok.jpg and the look-alike, a job of its own
        QCOMPARE(importAndWait(*state, urls), 0);              // each once, like any other file
        QCOMPARE(problems.count(), 1);                         // the same problems: no change
        state->triggerQuickLook(refused);
        QVERIFY(!state->previewItemURL());

        // A retry runs the others; it stays failed with its text and no file is touched for it.
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->retryFailedTasks();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
        QCOMPARE(list->count(TaskStatus::completed), 2);
        QVERIFY(*list->find(refused.id) == refused);
        QVERIFY(QFileInfo::exists(folder + QStringLiteral("/bad\\xFF.jxl")));
        struct stat rawInfo;
        QVERIFY(::stat(raw.constData(), &rawInfo) == 0 && rawInfo.st_size == 3);
        QVERIFY(::access(QByteArray(QFile::encodeName(folder) + "/bad\xFF.jxl").constData(), F_OK) != 0);
        state->startCurrentProcessing();              // only it is left failed: nothing starts
        QVERIFY(!state->batch()->isPreparing() && !state->isProcessing());

        // An import that reaches everything clears the problems; so does the window.
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(folder)}), 0);
        QVERIFY(state->importProblems().isEmpty());
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(missing)}), 0);
        state->clearImportProblems();
        QVERIFY(state->importProblems().isEmpty());
        QCOMPARE(problems.count(), 4);
        for (const QByteArray &name : rawNames)
            QCOMPARE(::unlink(QByteArray(QFile::encodeName(folder) + name).constData()), 0);
    }

    void tableModel()
    {
        TaskList list(ConversionMode::jpegToJXL);
        TaskTableModel model;
        model.setList(&list);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        list.append({makeTask(QStringLiteral("/m/a.jpg")), makeTask(QStringLiteral("/m/b.jpg")), makeTask(QStringLiteral("/m/c.jpg"))});

        TaskItem task = list.at(1);
        task.status = TaskStatus::completed;
        task.compressedSize = 1;
        QVERIFY(list.replace(task));
        QCOMPARE(changed.count(), 1); // that row alone
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(0)), model.index(1, 0));
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(1)), model.index(1, TaskTableModel::ColumnCount - 1));
        QCOMPARE(model.index(1, TaskTableModel::SavingsColumn).data().toString(), QString::fromUtf8("\u221275.0%"));
        list.remove({list.at(0).id});
        QCOMPARE(model.index(0, 0).data(TaskTableModel::IdRole).toUuid(), task.id);

        QStringList headers;
        TaskList restore(ConversionMode::jxlToJPEG);
        for (TaskList *shown : {&list, &restore}) {
            model.setList(shown);
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                headers.append(model.headerData(column, Qt::Horizontal).toString());
        }
        QCOMPARE(headers.join(QLatin1Char('|')),
                 QString::fromUtf8("名称|原始大小|压缩后大小|节省幅度|状态|名称|原始大小|还原后大小|复原效果|状态"));
    }

    void removalRuns_data()
    {
        QTest::addColumn<QList<int>>("removed");
        QTest::addColumn<QString>("announced"); // the row ranges as the signals give them
        QTest::newRow("one row") << QList<int>{3} << QStringLiteral("3-3");
        QTest::newRow("three runs") << QList<int>{0, 1, 4, 5, 6, 9} << QStringLiteral("0-1,2-4,4-4");
        QTest::newRow("all") << QList<int>{9, 0, 1, 2, 3, 4, 5, 6, 7, 8} << QStringLiteral("0-9");
        QTest::newRow("unknown id") << QList<int>{-1} << QString();
    }

    void removalRuns()
    {
        QFETCH(QList<int>, removed);
        TaskList list(ConversionMode::jpegToJXL);
        TaskTableModel model;
        model.setList(&list);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QList<TaskItem> tasks;
        for (int i = 0; i < 10; ++i)
            tasks.append(makeTask(QStringLiteral("/r/%1.jpg").arg(i)));
        tasks[7].destinationURL = QUrl::fromLocalFile(QStringLiteral("/r/7.jxl"));
        list.append(tasks);
        QSet<QUuid> ids{QUuid::createUuid()};
        for (const int row : removed)
            ids.insert(row < 0 ? QUuid::createUuid() : tasks.at(row).id);
        const QPersistentModelIndex kept = model.index(8, 0); // a selected row, say
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QStringList announced;
        const QMetaObject::Connection watch =
            connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [&](const QModelIndex &, int first, int last) {
            announced.append(QStringLiteral("%1-%2").arg(first).arg(last));
            for (int row = first; row <= last; ++row) // the rows named are the ones going
                QVERIFY(ids.contains(model.index(row, 0).data(TaskTableModel::IdRole).toUuid()));
        });

        QCOMPARE(list.remove(ids), qsizetype(std::count_if(removed.cbegin(), removed.cend(), [](int r) { return r >= 0; })));
        QTEST(announced.join(QLatin1Char(',')), "announced");
        QCOMPARE(reset.count(), 0);
        QCOMPARE(list.size(), 10 - qsizetype(ids.size()) + 1 + (removed.contains(-1) ? 1 : 0));
        for (qsizetype row = 0; row < list.size(); ++row)
            QCOMPARE(list.indexOf(list.at(row).id), row);
        QCOMPARE(kept.isValid(), !removed.contains(8));
        if (kept.isValid())
            QCOMPARE(kept.data(TaskTableModel::IdRole).toUuid(), tasks[8].id);
        // The path index follows: a removed job's source and destination are free again.
        QCOMPARE(list.containsPath(QStringLiteral("/r/7.jxl")), !removed.contains(7));
        QCOMPARE(list.containsPath(QStringLiteral("/r/0.jpg")), !removed.contains(0));
        disconnect(watch);
        list.clear();
        QVERIFY(list.isEmpty() && !list.containsPath(QStringLiteral("/r/2.jpg")));
        QCOMPARE(reset.count(), 0);
    }

    void sortedCurrentTasks_data()
    {
        QTest::addColumn<TaskSortKey>("key");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QString>("expected");
        // Ties are broken by a second descriptor: name, ascending (so "b" < "d" at equal keys).
        QTest::newRow("original size") << TaskSortKey::originalSize << true << QStringLiteral("eacbd");
        QTest::newRow("result size") << TaskSortKey::compressedSizeOrZero << true << QStringLiteral("acedb");
        QTest::newRow("savings descending") << TaskSortKey::savingsRatio << false << QStringLiteral("dbace");
        QTest::newRow("status") << TaskSortKey::status << true << QStringLiteral("ecabd");
    }

    void sortedCurrentTasks()
    {
        QFETCH(TaskSortKey, key);
        QFETCH(bool, ascending);
        auto state = launch();
        const auto task = [](char name, qint64 size, TaskStatus status, std::optional<qint64> result) {
            TaskItem item = makeTask(QStringLiteral("/p/%1.jpg").arg(QLatin1Char(name)));
            item.originalSize = size;
            item.status = status;
            item.compressedSize = result;
            return item;
        };
        state->compressTasks()->append({task('b', 300, TaskStatus::completed, 150), task('d', 400, TaskStatus::completed, 100),
                                        task('a', 100, TaskStatus::pending, {}), task('e', 50, TaskStatus::processing, {}),
                                        task('c', 200, TaskStatus::failed, {})});
        state->setSortOrder({{key, ascending}, {TaskSortKey::fileName, true}});
        QString order;
        for (const TaskItem &item : state->sortedCurrentTasks())
            order += item.fileName().at(0);
        QTEST(order, "expected");
    }

    void importAtScale()
    {
        // In memory where possible: on a busy disk, creating 100,000 files alone takes a minute.
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        QTemporaryDir dir((shm.isWritable() ? shm.filePath() : QDir::tempPath()) + QStringLiteral("/pikora-import-XXXXXX"));
        QVERIFY(dir.isValid());
        QList<QUrl> folders;
        for (int f = 0; f < 10; ++f) {
            const QString folder = dir.filePath(QStringLiteral("f%1").arg(f));
            QVERIFY(QDir().mkpath(folder));
            folders.append(QUrl::fromLocalFile(folder));
            for (int i = 0; i < 10000; ++i)
                QVERIFY(QFile(folder + QStringLiteral("/%1.jpg").arg(i)).open(QIODevice::WriteOnly));
        }
        auto state = launch();
        QCOMPARE(importAndWait(*state, folders), 100000);
        QCOMPARE(importAndWait(*state, folders), 0); // all of them are in the list already
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
