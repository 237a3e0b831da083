#include "app/settingsstore.h"
#include "app/toolstatus.h"
#include "testenv.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// Where the tools are: probed off the GUI thread, the run's overrides first, again on a new path.
class TestToolStatus final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_fakeTool; // an executable that stands in for a custom cjxl or djxl

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        TestEnv::forgetPreferences();
        m_fakeTool = TestEnv::writeScript(m_root.filePath(u"bin/tool"_s), "exit 0");
    }

    void toolProbe()
    {
        // The run's overrides win over the settings; the probe answers later, from the event loop.
        SettingsStore store{HardwareInfo()};
        ToolStatus tools(&store, {});
        QTRY_VERIFY_WITH_TIMEOUT(!tools.cjxlPath().isEmpty(), 30000); // the first probe
        RunOverrides overrides;
        overrides.customDjxlPath = m_fakeTool;
        store.setRunOverrides(overrides);
        QSignalSpy probed(&tools, &ToolStatus::statusChanged);
        tools.probe();
        QCOMPARE(probed.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 1, 30000);
        QVERIFY(tools.djxlPath() == m_fakeTool && tools.isReady(ConversionMode::jxlToJPEG));

        // A new custom tool path is probed at once; other settings changes probe nothing.
        AppSettings settings = store.settings();
        settings.compressionEffort = 3;
        store.setSettings(settings);
        settings.customCjxlPath = m_fakeTool;
        store.setSettings(settings);
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 2, 30000);
        QVERIFY(tools.cjxlPath() == m_fakeTool && tools.isReady(ConversionMode::jpegToJXL));
        QTest::qWait(200); // proves that the effort change started no probe of its own
        QCOMPARE(probed.count(), 2);
    }

    void missingToolIsNotReady()
    {
        SettingsStore store{HardwareInfo()};
        AppSettings settings;
        settings.customCjxlPath = m_root.filePath(u"bin/no-such-tool"_s);
        store.setSettings(settings);
        // No folder to search: only a custom path can be found.
        ToolStatus tools(&store, {});
        QSignalSpy probed(&tools, &ToolStatus::statusChanged);
        QTRY_COMPARE_WITH_TIMEOUT(probed.count(), 1, 30000);
        QVERIFY(!tools.isCjxlReady() && !tools.isReady(ConversionMode::jpegToJXL));
        QCOMPARE(tools.cjxlPath(), ToolStatus::notInstalledText());
    }
};

QTEST_GUILESS_MAIN(TestToolStatus)
#include "tst_toolstatus.moc"
