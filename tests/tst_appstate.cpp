#include "app/appstate.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "engine/jxlengine.h"
#include "platform/preferences.h"
#include "recordingfeedback.h"
#include "testenv.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The application state without a window: start-up and persistence, the tool probe, the
// feedback gates, import and every list operation, the table model and sorting.
class TestAppState final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_fakeCjxl;
    QString m_fakeDjxl;
    RecordingHaptics m_haptics;
    RecordingSound m_sound;

    std::unique_ptr<AppState> launch()
    {
        AppState::Feedback feedback;
        feedback.haptics = &m_haptics;
        feedback.sound = &m_sound;
        auto state = std::make_unique<AppState>(feedback);
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
            TestEnv::writeAll(QDir(path).filePath(name), QByteArrayLiteral("abcd"));
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

    void useFakeTool(AppState &state)
    {
        RunOverrides overrides;
        overrides.customCjxlPath = m_fakeCjxl;
        state.setRunOverrides(overrides);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_root.path());
        // Stand-ins that "convert" every file into one byte.
        m_fakeCjxl = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/fake-cjxl")), "printf x > \"$2\"");
        m_fakeDjxl = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/fake-djxl")), "printf x > \"$2\"");
    }

    void init()
    {
        Preferences store;
        for (const QString &key : {AppState::settingsKey, AppState::lifetimeBytesKey, AppState::lifetimeCountKey})
            store.remove(key);
        store.sync();
        m_haptics.played.clear();
        m_sound.played = 0;
    }

    void firstLaunchThenSettingsSavedAtOnce()
    {
        AppSettings changed;
        changed.compressionEffort = 9;
        {
            auto state = launch();
            QVERIFY(state->settings() == AppSettings());
            QCOMPARE(state->lifetimeSavedBytes(), 0);
            QCOMPARE(state->lifetimeProcessedCount(), 0);
            QCOMPARE(state->activeMode(), ConversionMode::jpegToJXL);
            QVERIFY(state->sortOrder() == QList<TaskSortDescriptor>{TaskSortDescriptor{}});
            Preferences store;
            for (const QString &key : {AppState::settingsKey, AppState::lifetimeBytesKey, AppState::lifetimeCountKey})
                QVERIFY2(!store.contains(key), qPrintable(key));

            QSignalSpy signalled(state.get(), &AppState::settingsChanged);
            state->setSettings(changed);
            QCOMPARE(Preferences().data(AppState::settingsKey), encodeSettings(changed));
            state->setSettings(changed);
            QCOMPARE(signalled.count(), 1);
        }
        QVERIFY(launch()->settings() == changed);
    }

    void storedRecord_data()
    {
        QTest::addColumn<QByteArray>("stored");
        AppSettings custom;
        custom.deleteStrategy = DeleteStrategy::moveToTrash;
        custom.soundFeedbackEnabled = false;
        QJsonObject object = QJsonDocument::fromJson(encodeSettings(custom)).object();
        QTest::newRow("valid, keys sorted and indented") << QJsonDocument(object).toJson(QJsonDocument::Indented);
        object.remove(QStringLiteral("autoCheckForUpdates"));
        QTest::newRow("lacks a key") << QJsonDocument(object).toJson(QJsonDocument::Compact);
        QTest::newRow("not JSON") << QByteArrayLiteral("{\"deleteStrategy\": trash");
    }

    void storedRecord()
    {
        QFETCH(QByteArray, stored);
        Preferences().setData(AppState::settingsKey, stored);
        const std::optional<AppSettings> decoded = decodeSettings(stored);
        QCOMPARE(decoded.has_value(), QByteArray(QTest::currentDataTag()).startsWith("valid"));
        if (decoded)
            QVERIFY(stored != encodeSettings(*decoded)); // so that the rewrite shows

        auto state = launch();
        QVERIFY(state->settings() == decoded.value_or(AppSettings()));
        // A loaded record is written back in its own encoding; anything else stays as it was.
        QCOMPARE(Preferences().data(AppState::settingsKey), decoded ? encodeSettings(*decoded) : stored);
    }

    void lifetimeCounters_data()
    {
        QTest::addColumn<QVariant>("bytes");
        QTest::addColumn<QVariant>("count");
        QTest::addColumn<qint64>("expectedBytes");
        QTest::addColumn<qint64>("expectedCount");
        const qint64 beyondDouble = (qint64(1) << 53) + 1;
        QTest::newRow("numbers") << QVariant(beyondDouble) << QVariant(qint64(42)) << beyondDouble << qint64(42);
        QTest::newRow("text, as a new process reads it")
            << QVariant(QStringLiteral("9007199254740993")) << QVariant(QStringLiteral("7")) << beyondDouble << qint64(7);
        QTest::newRow("wrong types") << QVariant(QByteArrayLiteral("12")) << QVariant(1.5) << qint64(0) << qint64(0);
        QTest::newRow("not numbers") << QVariant(QStringLiteral("12 MB")) << QVariant(QStringList{QStringLiteral("3")})
                                     << qint64(0) << qint64(0);
    }

    void lifetimeCounters()
    {
        QFETCH(QVariant, bytes);
        QFETCH(QVariant, count);
        {
            QSettings raw(Preferences().fileName(), QSettings::IniFormat);
            raw.setValue(AppState::lifetimeBytesKey, bytes);
            raw.setValue(AppState::lifetimeCountKey, count);
        }
        auto state = launch();
        QTEST(state->lifetimeSavedBytes(), "expectedBytes");
        QTEST(state->lifetimeProcessedCount(), "expectedCount");
    }

    void toolProbe_data()
    {
        QTest::addColumn<bool>("viaOverrides");
        QTest::addColumn<bool>("fakeCjxl");
        QTest::addColumn<bool>("fakeDjxl");
        QTest::newRow("settings: both custom") << false << true << true;
        QTest::newRow("settings: custom paths missing") << false << false << false;
        QTest::newRow("overrides: custom cjxl only") << true << true << false;
        QTest::newRow("overrides: custom djxl only") << true << false << true;
    }

    void toolProbe()
    {
        QFETCH(bool, viaOverrides);
        QFETCH(bool, fakeCjxl);
        QFETCH(bool, fakeDjxl);
        const QString missing = m_root.filePath(QStringLiteral("nowhere/tool"));
        const QString cjxl = fakeCjxl ? m_fakeCjxl : missing;
        const QString djxl = fakeDjxl ? m_fakeDjxl : missing;
        AppSettings settings;
        settings.customCjxlPath = viaOverrides ? QString() : cjxl;
        settings.customDjxlPath = viaOverrides ? QString() : djxl;
        Preferences().setData(AppState::settingsKey, encodeSettings(settings));
        auto state = launch();
        if (viaOverrides) {
            RunOverrides overrides;
            overrides.customCjxlPath = cjxl;
            overrides.customDjxlPath = djxl;
            state->setRunOverrides(overrides);
            QSignalSpy probed(state.get(), &AppState::toolStatusChanged);
            state->checkEnvironment();
            QCOMPARE(probed.count(), 0); // the fields change later, from the event loop
            QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 1, 30000);
        }
        // A missing custom tool falls back to the search folders, and the real tools are in
        // /usr/bin: the not-installed text can only show where none is found.
        const auto expected = [](const QString &name, bool fake, const QString &custom) {
            return fake ? custom : JXLEngine::resolveToolPath(name, QString()).value_or(AppState::notInstalledText());
        };
        QCOMPARE(AppState::notInstalledText(), QString::fromUtf8("未安装 (通过 Homebrew: brew install jpeg-xl)"));
        QCOMPARE(state->cjxlPath(), expected(QStringLiteral("cjxl"), fakeCjxl, cjxl));
        QCOMPARE(state->djxlPath(), expected(QStringLiteral("djxl"), fakeDjxl, djxl));
        QCOMPARE(state->isCjxlReady(), state->cjxlPath() != AppState::notInstalledText());
        QCOMPARE(state->isDjxlReady(), state->djxlPath() != AppState::notInstalledText());
        QCOMPARE(state->isToolReady(), state->isCjxlReady());
        state->switchMode(ConversionMode::jxlToJPEG);
        QCOMPARE(state->isToolReady(), state->isDjxlReady());
    }

    void feedbackGates_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("haptics and sound on") << true;
        QTest::newRow("haptics and sound off") << false;
    }

    void feedbackGates()
    {
        QFETCH(bool, enabled);
        auto state = launch();
        AppSettings settings = state->settings();
        settings.hapticFeedbackEnabled = enabled;
        settings.soundFeedbackEnabled = enabled;
        state->setSettings(settings);
        useFakeTool(*state);

        state->switchMode(ConversionMode::jpegToJXL); // already shown: nothing
        state->switchMode(ConversionMode::jxlToJPEG);
        state->switchMode(ConversionMode::jpegToJXL);
        state->openSettings(); // no action installed: nothing to open, and no endless re-entry
        int opened = 0;
        state->setOpenSettingsAction([&opened] { ++opened; });
        state->openSettings();
        QCOMPARE(opened, 1);
        state->triggerHaptic(HapticPattern::levelChange);
        state->playSuccessFeedback();
        const QString folder = makeFiles(QStringLiteral("gates/%1").arg(enabled), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(folder)}), 2);
        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(state->compressTasks()->count(TaskStatus::completed), 2);
        TaskItem huge = makeTask(QDir(folder).filePath(QStringLiteral("huge.jpg")));
        huge.originalSize = qint64(1) << 60;
        state->compressTasks()->append({huge});
        state->startCurrentProcessing();
        QVERIFY(state->diskWarningMessage().has_value());

        using enum HapticPattern;
        const QList<HapticPattern> all{alignment, alignment,             // two switches
                                       alignment, alignment, levelChange, // settings twice, a button
                                       alignment, alignment,             // import, batch start
                                       generic,   generic,   alignment}; // two jobs done, disk refusal
        QCOMPARE(m_haptics.played, enabled ? all : QList<HapticPattern>());
        QCOMPARE(m_sound.played, enabled ? 2 : 0); // playSuccessFeedback and the batch's end
    }

    void listOperations()
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
        compress->append(c);
        restore->append(r);
        const auto ids = [](const TaskList *list) {
            QList<QUuid> out;
            for (const TaskItem &task : list->items())
                out.append(task.id);
            return out;
        };

        // removeTask works on the job's own list, whichever is shown.
        state->setSelectedTaskIds({c[0].id, r[1].id});
        state->removeTask(r[1]);
        QCOMPARE(ids(restore), (QList<QUuid>{r[0].id, r[2].id, r[3].id}));
        QCOMPARE(state->selectedTaskIds(), QSet<QUuid>{c[0].id});
        QCOMPARE(compress->size(), 4);

        // Selected ids of the other list leave the selection; their jobs stay.
        state->setSelectedTaskIds({c[1].id, c[2].id, r[0].id});
        state->switchMode(ConversionMode::jpegToJXL); // already shown: the selection stays
        QCOMPARE(state->selectedTaskIds().size(), 3);
        state->removeSelectedTasks();
        QCOMPARE(ids(compress), (QList<QUuid>{c[0].id, c[3].id}));
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

    void retryFailedTasks()
    {
        auto state = launch();
        useFakeTool(*state);
        const QString folder = makeFiles(QStringLiteral("retry"), {QStringLiteral("f.jpg"), QStringLiteral("p.jpg")});
        TaskItem failed = makeTask(folder + QStringLiteral("/f.jpg"));
        failed.status = TaskStatus::failed;
        failed.errorMessage = QStringLiteral("earlier failure");
        TaskItem done = makeTask(folder + QStringLiteral("/gone.jpg")); // its source no longer exists
        done.status = TaskStatus::completed;
        done.destinationURL = QUrl::fromLocalFile(folder + QStringLiteral("/gone.jxl"));
        done.compressedSize = 2;
        state->compressTasks()->append({failed, done});

        QSignalSpy finished(state.get(), &AppState::batchFinished);
        state->retryFailedTasks();
        QVERIFY(state->isProcessing());
        QVERIFY(!state->compressTasks()->find(failed.id)->errorMessage);
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 60000);
        QCOMPARE(state->compressTasks()->find(failed.id)->status, TaskStatus::completed);
        QVERIFY(!state->compressTasks()->find(failed.id)->errorMessage);
        QVERIFY(*state->compressTasks()->find(done.id) == done); // finished jobs are not run again

        // Nothing failed, but something waits: a batch still starts.
        state->compressTasks()->append({makeTask(folder + QStringLiteral("/p.jpg"))});
        state->retryFailedTasks();
        QVERIFY(state->isProcessing());
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 2, 60000);
        QCOMPARE(state->compressTasks()->count(TaskStatus::completed), 3);
    }

    void quickLook()
    {
        auto state = launch();
        TaskItem converted = makeTask(QStringLiteral("/photos/a.jpg"));
        converted.status = TaskStatus::completed;
        converted.destinationURL = QUrl::fromLocalFile(QStringLiteral("/photos/a.jxl"));
        const TaskItem waiting = makeTask(QStringLiteral("/photos/b.jpg"));
        const TaskItem other = makeTask(QStringLiteral("/photos/c.jxl"), ConversionMode::jxlToJPEG);
        state->compressTasks()->append({converted, waiting});
        state->restoreTasks()->append({other});

        state->triggerQuickLook(converted);
        QCOMPARE(state->previewItemURL(), converted.destinationURL);
        state->triggerQuickLook(waiting);
        QCOMPARE(state->previewItemURL(), std::optional<QUrl>(waiting.sourceURL));
        state->setPreviewItemURL(std::nullopt);
        state->triggerQuickLook(std::nullopt); // nothing selected
        state->setSelectedTaskIds({other.id}); // not in the shown list
        state->triggerQuickLook(std::nullopt);
        QVERIFY(!state->previewItemURL());
        state->setSelectedTaskIds({converted.id});
        state->triggerQuickLook(std::nullopt);
        QCOMPARE(state->previewItemURL(), converted.destinationURL);
    }

    void importRules()
    {
        auto state = launch();
        TaskList *compress = state->compressTasks();
        const QString a = makeFiles(QStringLiteral("rules/a"), {QStringLiteral("x.jpg"), QStringLiteral("y.jpeg"),
                                                                QStringLiteral("z.jxl"), QStringLiteral("notes.txt")});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(a)}), 2);
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(a)}), 0); // the same folder again
        QCOMPARE(m_haptics.played, QList<HapticPattern>{HapticPattern::alignment}); // only for the first
        for (const TaskItem &task : compress->items())
            QVERIFY(task.mode == ConversionMode::jpegToJXL && task.status == TaskStatus::pending && task.originalSize == 4);

        // Two spellings of one file in one drop.
        const QString b = makeFiles(QStringLiteral("rules/b"), {QStringLiteral("w.jpg")});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(b + QStringLiteral("/w.jpg")),
                                        QUrl::fromLocalFile(b + QStringLiteral("/../b/w.jpg"))}),
                 1);

        // A file some job already writes to is not a new job.
        const QString c = makeFiles(QStringLiteral("rules/c"), {QStringLiteral("taken.jpg")});
        TaskItem writer = makeTask(c + QStringLiteral("/source.png"));
        writer.destinationURL = QUrl::fromLocalFile(c + QStringLiteral("/../c/taken.jpg"));
        compress->append({writer});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(c)}), 0);

        // A JPEG dropped while restore is shown lands nowhere; the scan result is still kept.
        state->switchMode(ConversionMode::jxlToJPEG);
        const qsizetype before = compress->size();
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(a + QStringLiteral("/x.jpg"))}), 0);
        QCOMPARE(compress->size(), before);
        QVERIFY(state->restoreTasks()->isEmpty());
        QCOMPARE(state->currentScanResult()->jpegFiles.size(), 1);
    }

    void importDirectionAndScanning()
    {
        auto state = launch();
        const QString a = makeFiles(QStringLiteral("scanning/a"), {QStringLiteral("1.jpg"), QStringLiteral("2.jpg")});
        const QString b = makeFiles(QStringLiteral("scanning/b"), {QStringLiteral("3.jpg")});
        QList<bool> scanningAtMerge;
        connect(state.get(), &AppState::importFinished, this,
                [&scanningAtMerge, &state] { scanningAtMerge.append(state->isScanning()); });
        QSignalSpy scanning(state.get(), &AppState::isScanningChanged);

        state->importURLs({QUrl::fromLocalFile(a)});
        state->importURLs({QUrl::fromLocalFile(b)});
        QVERIFY(state->isScanning());
        state->switchMode(ConversionMode::jxlToJPEG); // the imports keep the direction they began in
        QTRY_COMPARE_WITH_TIMEOUT(scanningAtMerge.size(), 2, 60000);
        QCOMPARE(scanningAtMerge, (QList<bool>{true, false})); // scanning while any scan runs
        QCOMPARE(scanning.count(), 2);
        QCOMPARE(state->compressTasks()->size(), 3);
        QVERIFY(state->restoreTasks()->isEmpty());
    }

    void importAlwaysMergesLater()
    {
        // A scan that ends before its continuation is attached is still merged from the event
        // loop, never inside importURLs(): callers connect after calling, and isScanning must hold.
        auto state = launch();
        QSignalSpy finished(state.get(), &AppState::importFinished);
        int mergedInsideTheCall = 0;
        for (int round = 1; round <= 3000; ++round) {
            state->importURLs({});
            if (finished.count() == round)
                ++mergedInsideTheCall;
            else
                QVERIFY(finished.wait(10000));
        }
        QCOMPARE(mergedInsideTheCall, 0);
    }

    void tableModel()
    {
        auto state = launch();
        TaskTableModel model;
        model.setList(state->compressTasks());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        const QString folder = makeFiles(QStringLiteral("model"), {QStringLiteral("a.jpg"), QStringLiteral("b.jpg"),
                                                                   QStringLiteral("c.jpg")});
        QCOMPARE(importAndWait(*state, {QUrl::fromLocalFile(folder)}), 3);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(inserted.first().at(2).toInt(), 2);
        QCOMPARE(model.rowCount(), 3);

        TaskItem task = state->compressTasks()->at(1);
        task.status = TaskStatus::completed;
        task.compressedSize = 1;
        QVERIFY(state->compressTasks()->replace(task));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(0)), model.index(1, 0));
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(1)), model.index(1, TaskTableModel::ColumnCount - 1));
        QCOMPARE(model.index(1, TaskTableModel::SavingsColumn).data().toString(), QString::fromUtf8("\u221275.0%"));

        state->removeTask(state->compressTasks()->at(0));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, 0).data(TaskTableModel::IdRole).toUuid(), task.id);

        const auto headers = [&model] {
            QStringList out;
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                out.append(model.headerData(column, Qt::Horizontal).toString());
            return out.join(QLatin1Char('|'));
        };
        QCOMPARE(headers(), QString::fromUtf8("名称|原始大小|压缩后大小|节省幅度|状态"));
        model.setList(state->restoreTasks());
        QCOMPARE(headers(), QString::fromUtf8("名称|原始大小|还原后大小|复原效果|状态"));
    }

    void sortedCurrentTasks_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QString>("expected");
        // Ties are broken by a second descriptor: name, ascending.
        QTest::newRow("name ascending") << int(TaskSortKey::fileName) << true << QStringLiteral("abcde");
        QTest::newRow("name descending") << int(TaskSortKey::fileName) << false << QStringLiteral("edcba");
        QTest::newRow("original size") << int(TaskSortKey::originalSize) << true << QStringLiteral("eacbd");
        QTest::newRow("result size") << int(TaskSortKey::compressedSizeOrZero) << true << QStringLiteral("acedb");
        QTest::newRow("savings descending") << int(TaskSortKey::savingsRatio) << false << QStringLiteral("dbace");
        QTest::newRow("status") << int(TaskSortKey::status) << true << QStringLiteral("ecabd");
    }

    void sortedCurrentTasks()
    {
        QFETCH(int, key);
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
        state->setSortOrder({{TaskSortKey(key), ascending}, {TaskSortKey::fileName, true}});
        QString order;
        for (const TaskItem &item : state->sortedCurrentTasks())
            order += item.fileName().at(0);
        QTEST(order, "expected");
    }

    void importAtScale()
    {
        // In memory where possible: on a busy disk, creating 100,000 files alone takes a minute.
        const QFileInfo shm(QStringLiteral("/dev/shm"));
        QTemporaryDir dir((shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath())
                          + QStringLiteral("/pikora-import-XXXXXX"));
        QVERIFY(dir.isValid());
        QList<QUrl> folders;
        for (int f = 0; f < 10; ++f) {
            const QString folder = dir.filePath(QStringLiteral("f%1").arg(f));
            QVERIFY(QDir().mkpath(folder));
            folders.append(QUrl::fromLocalFile(folder));
            for (int i = 0; i < 10000; ++i) {
                QFile file(folder + QStringLiteral("/%1.jpg").arg(i));
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        }
        auto state = launch();
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(importAndWait(*state, folders), 100000);
        qDebug() << "first import of 100,000 files:" << clock.restart() << "ms";
        QCOMPARE(importAndWait(*state, folders), 0); // all of them are in the list already
        qDebug() << "second import into a list of 100,000:" << clock.elapsed() << "ms";
        QCOMPARE(state->compressTasks()->size(), 100000);
        QCOMPARE(state->currentScanResult()->jpegFiles.size(), 100000);
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
