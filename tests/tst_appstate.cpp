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
#include "testenv.h"

#include <QTemporaryDir>
#include <QTest>

// The composition root: the services it makes work on one set of lists. Each service has its
// own suite; batches through it are in tst_batch.
class TestAppState final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void servicesShareTheLists()
    {
        AppState state(BatchFeedback::Devices{});
        // The start-up probe writes a path or the not-installed text.
        QTRY_VERIFY_WITH_TIMEOUT(!state.tools()->cjxlPath().isEmpty(), 30000);
        for (QObject *service : std::initializer_list<QObject *>{state.settings(), state.tools(), state.workspace(),
                                                                 state.imports(), state.batch(), state.runner(),
                                                                 state.stats(), state.fileManagerActions()})
            QVERIFY(service && service->parent() == &state);
        QCOMPARE(state.runner()->batch(), state.batch());

        // A batch starts on the shown list: nothing waits in the restore list.
        TaskItem waiting;
        waiting.sourceURL = QUrl::fromLocalFile(m_root.filePath(QStringLiteral("a.jpg")));
        TestEnv::writeAll(waiting.sourceURL.toLocalFile(), TestEnv::fakeJpeg(64));
        waiting.originalSize = 64;
        state.workspace()->compressTasks()->append({waiting});
        state.workspace()->switchMode(ConversionMode::jxlToJPEG);
        state.runner()->startCurrentProcessing();
        QVERIFY(!state.batch()->isPreparing());
        state.workspace()->switchMode(ConversionMode::jpegToJXL);
        state.runner()->startCurrentProcessing();
        QVERIFY(state.batch()->isPreparing());
        state.runner()->cancel();
        QVERIFY(!state.batch()->isPreparing() && !state.runner()->isProcessing());
    }
};

QTEST_GUILESS_MAIN(TestAppState)
#include "tst_appstate.moc"
