#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "fakeencoder.h"
#include "servicefixtures.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// Batches started on the shown list with the settings in force, with a fake encoder: the
// reasons a start is refused, and the output folder a batch keeps. (A removed job's tool
// stopped: tst_batch.)
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

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        TestEnv::forgetPreferences();
        m_work = ServiceFixtures::caseFolder(m_root);
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

    // A refused start says why, once; clearing the warning clears what came with it. A chosen
    // folder that has gone (its disk not mounted) refuses the batch instead of being made.
    void refusalsAreWarnedAbout()
    {
        useEncoder(TestEnv::writeFakeJxlCommand());
        ServiceFixtures::addPhotos(m_workspace->compressTasks(), m_work, QList<qint64>{1000});
        const QString gone = m_work + QStringLiteral("/unmounted/disk");
        m_settings->setOutputFolder(gone);
        QCOMPARE(m_batch->outputFolder(), gone);
        QSignalSpy warned(m_runner.get(), &BatchRunner::diskWarningMessageChanged);
        QSignalSpy started(m_batch.get(), &BatchController::started);
        m_runner->startCurrentProcessing();
        QVERIFY(warned.wait(30000));
        QVERIFY2(m_runner->diskWarningMessage().value_or(QString()).contains(gone), qPrintable(*m_runner->diskWarningMessage()));
        QVERIFY(m_runner->isOutputFolderMissing());
        QVERIFY(started.isEmpty() && !m_runner->isProcessing());
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/unmounted")));

        m_runner->clearDiskWarning();
        m_runner->clearDiskWarning(); // nothing left to clear: no signal
        QCOMPARE(warned.count(), 2);
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
        ServiceFixtures::addPhotos(m_workspace->compressTasks(), m_work, QList<qint64>{1000, 1000});
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
