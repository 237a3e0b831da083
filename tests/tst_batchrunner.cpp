#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "fakeencoder.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Batches started on the shown list with the settings in force, with a fake encoder: a removed
// job's tool stopped, the reasons a start is refused, and the output folder a batch keeps.
class TestBatchRunner final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_work;
    std::unique_ptr<Workspace> m_workspace;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<BatchController> m_batch;
    std::unique_ptr<BatchRunner> m_runner;

    void useEncoder(const QByteArray &body)
    {
        RunOverrides overrides;
        overrides.jobs = 1;
        overrides.customCjxlPath = FakeEncoder::write(m_work, body);
        m_settings->setRunOverrides(overrides);
    }

    QList<TaskItem> addPhotos(int count, qint64 size = 1000)
    {
        QList<TaskItem> tasks;
        for (int i = 0; i < count; ++i) {
            TaskItem task;
            task.sourceURL = QUrl::fromLocalFile(m_work + QStringLiteral("/photos/p%1.jpg").arg(m_workspace->compressTasks()->size() + i));
            task.originalSize = size;
            TestEnv::writeAll(task.sourceURL.toLocalFile(), TestEnv::fakeJpeg(1000));
            tasks.append(task);
        }
        m_workspace->compressTasks()->append(tasks);
        return tasks;
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        TestEnv::forgetPreferences();
        m_work = m_root.filePath(QString::fromLatin1(QTest::currentTestFunction()));
        m_workspace = std::make_unique<Workspace>();
        m_settings = std::make_unique<SettingsStore>(HardwareInfo());
        m_batch = std::make_unique<BatchController>(m_workspace->compressTasks(), m_workspace->restoreTasks());
        m_runner = std::make_unique<BatchRunner>(m_batch.get(), m_workspace.get(), m_settings.get());
    }

    void cleanup()
    {
        m_runner.reset();
        m_batch.reset();
        m_settings.reset();
        m_workspace.reset();
    }

    // A job the user removes must not go on to dispose of a photo no longer shown.
    void aRemovedJobsToolIsStopped()
    {
        useEncoder("sleep 30 >/dev/null 2>&1\n" + TestEnv::writeFakeJxlCommand());
        const QList<TaskItem> tasks = addPhotos(1);
        QSignalSpy finished(m_batch.get(), &BatchController::finished);
        QSignalSpy processing(m_runner.get(), &BatchRunner::isProcessingChanged);
        m_runner->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(FakeEncoder::log(m_work).size(), 1, 30000);
        QVERIFY(m_runner->isProcessing());
        m_workspace->removeTask(tasks.first());
        QVERIFY(finished.wait(15000)); // long before the tool's 30 seconds
        QVERIFY(!m_runner->isProcessing());
        QCOMPARE(processing.count(), 2);
        QVERIFY(FakeEncoder::log(m_work, "end").isEmpty());
        QCOMPARE(TestEnv::entries(m_work + QStringLiteral("/photos")), QStringList{QStringLiteral("p0.jpg")});
    }

    // A refused start says why, once; clearing the warning clears what came with it.
    void refusalsAreWarnedAbout()
    {
        useEncoder(TestEnv::writeFakeJxlCommand());
        addPhotos(1, qint64(1) << 60);
        QSignalSpy warned(m_runner.get(), &BatchRunner::diskWarningMessageChanged);
        m_runner->startCurrentProcessing();
        QVERIFY(warned.wait(30000));
        QVERIFY2(m_runner->diskWarningMessage().value_or(QString()).startsWith(QStringLiteral("磁盘空间不足：")),
                 qPrintable(m_runner->diskWarningMessage().value_or(QString())));
        QVERIFY(!m_runner->isOutputFolderMissing());

        // A chosen folder that has gone (its disk not mounted) refuses the batch instead of being made.
        const QString gone = m_work + QStringLiteral("/unmounted/disk");
        m_settings->setOutputFolder(gone);
        QCOMPARE(m_batch->outputFolder(), gone);
        QSignalSpy started(m_batch.get(), &BatchController::started);
        m_runner->startCurrentProcessing();
        QVERIFY(warned.wait(30000));
        QCOMPARE(m_runner->diskWarningMessage().value_or(QString()),
                 QStringLiteral("输出文件夹不存在：%1。请连接它所在的磁盘，或在设置中另选输出位置。").arg(gone));
        QVERIFY(m_runner->isOutputFolderMissing());
        QVERIFY(started.isEmpty() && !m_runner->isProcessing());
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/unmounted")));

        warned.clear();
        m_runner->clearDiskWarning();
        m_runner->clearDiskWarning(); // nothing left to clear: no signal
        QCOMPARE(warned.count(), 1);
        QVERIFY(!m_runner->diskWarningMessage() && !m_runner->isOutputFolderMissing());
    }

    // The folder a former session chose serves the first batch: the runner hands it over at once.
    void aStoredFolderServesTheFirstBatch()
    {
        const QString out = m_work + QStringLiteral("/backup");
        QVERIFY(QDir().mkpath(out));
        SettingsStore(HardwareInfo()).setOutputFolder(out);
        SettingsStore settings{HardwareInfo()};
        BatchController batch(m_workspace->compressTasks(), m_workspace->restoreTasks());
        const BatchRunner runner(&batch, m_workspace.get(), &settings);
        QCOMPARE(batch.outputFolder(), out);
    }

    // A batch writes where its checks looked: a folder chosen while it runs serves the next one.
    void aFolderChosenDuringABatchServesTheNext()
    {
        const QString hold = m_work + QStringLiteral("/hold");
        TestEnv::writeAll(hold, "");
        useEncoder("while [ -e \"$d/hold\" ]; do sleep 0.05; done\n" + TestEnv::writeFakeJxlCommand());
        const QString first = m_work + QStringLiteral("/first");
        const QString second = m_work + QStringLiteral("/second");
        QVERIFY(QDir().mkpath(first) && QDir().mkpath(second));
        m_settings->setOutputFolder(first);
        addPhotos(2);
        QSignalSpy finished(m_batch.get(), &BatchController::finished);
        m_runner->startCurrentProcessing();
        QTRY_COMPARE_WITH_TIMEOUT(FakeEncoder::log(m_work).size(), 1, 30000);
        m_settings->setOutputFolder(second);
        QCOMPARE(m_batch->outputFolder(), first);
        QFile::remove(hold);
        QVERIFY(finished.wait(30000));
        QCOMPARE(TestEnv::entries(first + QStringLiteral("/photos")), (QStringList{QStringLiteral("p0.jxl"), QStringLiteral("p1.jxl")}));
        QCOMPARE(m_batch->outputFolder(), second);
        QVERIFY(!QFileInfo::exists(second + QStringLiteral("/photos")));
    }
};

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
