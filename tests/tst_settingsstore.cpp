#include "app/settingsstore.h"
#include "app/toolstatus.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"
#include "testenv.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The stored settings record: loading, writing back, saving, and the run's overrides on top.
class TestSettingsStore final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_fakeTool; // an executable that stands in for a custom cjxl
    // Six cores as the root would hand them over: the automatic count is not the default of 1.
    const HardwareInfo m_machine = HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 6, std::nullopt, std::nullopt);

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_fakeTool = TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/tool")), "exit 0");
    }

    void init() { TestEnv::forgetPreferences(); }

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
            Preferences().setData(SettingsStore::settingsKey, stored);
        const std::optional<AppSettings> decoded = decodeSettings(stored);
        SettingsStore store(m_machine);
        ToolStatus tools(&store, {});
        AppSettings fresh;
        fresh.concurrency = m_machine.recommendedAutoConcurrency();
        QVERIFY(fresh.concurrency > 1);
        QVERIFY(store.settings() == decoded.value_or(fresh));
        // A loaded record is written back in its own encoding; anything else stays as it was.
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), decoded ? encodeSettings(*decoded) : stored);
        // Exactly the eleven keys: a record with a twelfth would not load in an older version.
        QCOMPARE(QJsonDocument::fromJson(encodeSettings(store.settings())).object().keys(),
                 (QStringList{QStringLiteral("autoCheckForUpdates"), QStringLiteral("compressionEffort"),
                              QStringLiteral("concurrency"), QStringLiteral("concurrencyMode"), QStringLiteral("customCjxlPath"),
                              QStringLiteral("customDjxlPath"), QStringLiteral("customUpdateFeedURL"),
                              QStringLiteral("deleteStrategy"), QStringLiteral("hapticFeedbackEnabled"),
                              QStringLiteral("soundFeedbackEnabled"), QStringLiteral("verifyLossless")}));
        QTRY_VERIFY_WITH_TIMEOUT(!tools.cjxlPath().isEmpty(), 30000);
        QCOMPARE(tools.cjxlPath() == m_fakeTool, decoded.has_value()); // the probe took the custom path
        AppSettings changed = store.settings();
        changed.compressionEffort = 9;
        store.setSettings(changed);
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), encodeSettings(changed)); // saved at once
    }

    void overridesApplyToJobsOnly()
    {
        SettingsStore store(m_machine);
        QSignalSpy changed(&store, &SettingsStore::settingsChanged);
        QSignalSpy jobs(&store, &SettingsStore::jobSettingsChanged);
        QSignalSpy tools(&store, &SettingsStore::customToolPathsChanged);
        AppSettings settings;
        settings.compressionEffort = 5;
        settings.customDjxlPath = QStringLiteral("/opt/djxl");
        store.setSettings(settings);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(tools.count(), 1);
        store.setSettings(settings); // the same again: stored, but nothing changed
        QCOMPARE(changed.count(), 1);
        QCOMPARE(tools.count(), 1);

        RunOverrides overrides;
        overrides.jobs = 0; // never fewer than one job at a time
        overrides.compressionEffort = 2;
        overrides.deleteStrategy = DeleteStrategy::moveToTrash;
        overrides.verifyLossless = true;
        overrides.customCjxlPath = m_fakeTool;
        store.setRunOverrides(overrides);
        QCOMPARE(jobs.count(), 3);
        QCOMPARE(changed.count(), 1); // the stored record is untouched
        QCOMPARE(store.settings().compressionEffort, 5);
        const AppSettings job = store.jobSettings();
        QCOMPARE(job.compressionEffort, 2);
        QCOMPARE(job.deleteStrategy, DeleteStrategy::moveToTrash);
        QVERIFY(job.verifyLossless);
        QCOMPARE(job.customCjxlPath, m_fakeTool);
        QCOMPARE(job.customDjxlPath, QStringLiteral("/opt/djxl"));
        QCOMPARE(store.customCjxlPath(), m_fakeTool);
        QCOMPARE(store.customDjxlPath(), QStringLiteral("/opt/djxl"));
        QCOMPARE(store.batchWindowLimit(), 1);
        overrides.jobs = 6;
        store.setRunOverrides(overrides);
        QCOMPARE(store.batchWindowLimit(), 6);
        store.setRunOverrides({});
        QCOMPARE(store.batchWindowLimit(), settings.effectiveConcurrency(m_machine));
        QVERIFY(store.jobSettings() == settings);
    }

    // The output folder lives under a key of its own: stored at once in a clean form, read back
    // by the next start, announced only when it changes, and
    // never written into the settings record.
    void outputFolderIsAPreferenceOfItsOwn()
    {
        const QString folder = QStringLiteral("/mnt/nas/Fotos été/照片 JXL");
        {
            SettingsStore store(m_machine);
            QCOMPARE(store.outputFolder(), QString());
            const QByteArray record = Preferences().data(SettingsStore::settingsKey);
            QSignalSpy changed(&store, &SettingsStore::outputFolderChanged);
            QSignalSpy settingsChanged(&store, &SettingsStore::settingsChanged);
            store.setOutputFolder(folder + QStringLiteral("//"));
            QCOMPARE(store.outputFolder(), folder);
            QCOMPARE(changed.count(), 1);
            store.setOutputFolder(folder);
            QCOMPARE(changed.count(), 1);
            QCOMPARE(settingsChanged.count(), 0);
            QCOMPARE(Preferences().data(SettingsStore::settingsKey), record);
            QCOMPARE(Preferences().data(SettingsStore::outputFolderKey), QFile::encodeName(folder));
        }
        Preferences().sync();
        {
            SettingsStore store(m_machine);
            QCOMPARE(store.outputFolder(), folder);
            QSignalSpy changed(&store, &SettingsStore::outputFolderChanged);
            store.setOutputFolder(QString()); // back beside the photos: the key goes
            QCOMPARE(changed.count(), 1);
            QVERIFY(!Preferences().contains(SettingsStore::outputFolderKey));
        }
        QCOMPARE(SettingsStore(m_machine).outputFolder(), QString());

        // A folder picked is remembered with the volume it lies on, found in the background and
        // kept once known; another folder picked forgets it at once.
        SettingsStore store(m_machine);
        QSignalSpy found(&store, &SettingsStore::outputVolumeChanged);
        store.setOutputFolder(m_root.path());
        QVERIFY(found.wait());
        QCOMPARE(store.outputVolume(), VolumeIdentity::of(m_root.path()));
        QCOMPARE(SettingsStore(m_machine).outputVolume(), store.outputVolume());
        store.rememberOutputVolume(m_root.path(), QStringLiteral("UUID=other"));
        QCOMPARE(SettingsStore(m_machine).outputVolume(), VolumeIdentity::of(m_root.path()));
        store.setOutputFolder(m_root.filePath(QStringLiteral("not/there")));
        QCOMPARE(store.outputVolume(), QString());
        QVERIFY(!Preferences().contains(SettingsStore::outputVolumeKey));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
