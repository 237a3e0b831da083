#include "app/settingsstore.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"
#include "testenv.h"

#include <QFile>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The stored settings record: loading, writing back, saving, and the run's overrides on top.
class TestSettingsStore final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    // Six cores as the root would hand them over: the automatic count is not the default of 1.
    const HardwareInfo m_machine = HardwareInfo::fromFacts(u"Test CPU"_s, 6, std::nullopt, std::nullopt);

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init() { TestEnv::forgetPreferences(); }

    void startUpAndSettings_data()
    {
        QTest::addColumn<QByteArray>("stored");
        AppSettings custom;
        custom.customCjxlPath = u"/opt/cjxl"_s;
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
        AppSettings fresh;
        fresh.concurrency = m_machine.recommendedAutoConcurrency();
        QVERIFY(fresh.concurrency > 1);
        QVERIFY(store.settings() == decoded.value_or(fresh));
        // A loaded record is written back in its own encoding; anything else stays as it was.
        QCOMPARE(Preferences().data(SettingsStore::settingsKey), decoded ? encodeSettings(*decoded) : stored);
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
        settings.customDjxlPath = u"/opt/djxl"_s;
        store.setSettings(settings);
        store.setSettings(settings); // the same again: stored, but nothing changed
        QVERIFY(changed.count() == 1 && tools.count() == 1);

        RunOverrides overrides;
        overrides.jobs = 0; // never fewer than one job at a time
        overrides.compressionEffort = 2;
        overrides.deleteStrategy = DeleteStrategy::moveToTrash;
        overrides.verifyLossless = true;
        overrides.customCjxlPath = u"/opt/cjxl"_s;
        store.setRunOverrides(overrides);
        QCOMPARE(jobs.count(), 3);
        QCOMPARE(changed.count(), 1); // the stored record is untouched
        QCOMPARE(store.settings().compressionEffort, 5);
        AppSettings job = settings;
        job.compressionEffort = 2;
        job.deleteStrategy = DeleteStrategy::moveToTrash;
        job.verifyLossless = true;
        job.customCjxlPath = u"/opt/cjxl"_s;
        QVERIFY(store.jobSettings() == job);
        QVERIFY(store.customCjxlPath() == job.customCjxlPath && store.customDjxlPath() == job.customDjxlPath);
        QCOMPARE(store.batchWindowLimit(), 1);
        overrides.jobs = 6;
        store.setRunOverrides(overrides);
        QCOMPARE(store.batchWindowLimit(), 6);
        store.setRunOverrides({});
        QCOMPARE(store.batchWindowLimit(), settings.effectiveConcurrency(m_machine));
        QVERIFY(store.jobSettings() == settings);
    }

    // The output folder lives under a key of its own: stored at once in a clean form, read back
    // by the next start, announced only when it changes, and never written into the settings record.
    void outputFolderIsAPreferenceOfItsOwn()
    {
        const QString folder = u"/mnt/nas/Fotos été/照片 JXL"_s;
        {
            SettingsStore store(m_machine);
            const QByteArray record = Preferences().data(SettingsStore::settingsKey);
            QSignalSpy changed(&store, &SettingsStore::outputFolderChanged);
            QSignalSpy settingsChanged(&store, &SettingsStore::settingsChanged);
            store.setOutputFolder(folder + u"//"_s);
            store.setOutputFolder(folder);
            QCOMPARE(store.outputFolder(), folder);
            QVERIFY(changed.count() == 1 && settingsChanged.isEmpty());
            QCOMPARE(Preferences().data(SettingsStore::settingsKey), record);
        }
        Preferences().sync();
        {
            SettingsStore store(m_machine);
            QCOMPARE(store.outputFolder(), folder);
            store.setOutputFolder(QString()); // back beside the photos: the key goes
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
        store.rememberOutputVolume(m_root.path(), u"UUID=other"_s);
        QCOMPARE(SettingsStore(m_machine).outputVolume(), VolumeIdentity::of(m_root.path()));
        store.setOutputFolder(m_root.filePath(u"not/there"_s));
        QCOMPARE(store.outputVolume(), QString());
        QVERIFY(!Preferences().contains(SettingsStore::outputVolumeKey));
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
