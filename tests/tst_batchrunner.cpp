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

using namespace Qt::StringLiterals;

// Batches started on the shown list with the settings in force, with a fake encoder: the output
// folder a batch keeps. (A removed job's tool stopped: tst_batch; a start refused for a missing
// folder: tst_ui_window.)
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

    // The folder a former session chose serves the first batch: the runner hands it over at once.
    void aStoredFolderServesTheFirstBatch()
    {
        const QString out = m_work + u"/backup"_s;
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
        const QString hold = m_work + u"/hold"_s;
        TestEnv::writeAll(hold, "");
        useEncoder("while [ -e \"$d/hold\" ]; do sleep 0.05; done\n" + TestEnv::writeFakeJxlCommand());
        const QString first = m_work + u"/first"_s;
        const QString second = m_work + u"/second"_s;
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
        QCOMPARE(TestEnv::entries(first + u"/photos"_s), (QStringList{u"p0.jxl"_s, u"p1.jxl"_s}));
        QCOMPARE(m_batch->outputFolder(), second);
        QVERIFY(!QFileInfo::exists(second + u"/photos"_s));
    }
};

QTEST_GUILESS_MAIN(TestBatchRunner)
#include "tst_batchrunner.moc"
