#include "engine/filejob.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// One file's conversion end to end, with the real tools on real photos and fake tools for
// the failures. Every dangerous case checks that no original is lost.
class TestPipeline final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    int m_case = 0;

    static TaskItem makeTask(const QString &source, ConversionMode mode)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(source);
        task.mode = mode;
        task.originalSize = QFileInfo(source).size();
        return task;
    }

    static AppSettings settingsWith(DeleteStrategy strategy)
    {
        AppSettings settings;
        settings.deleteStrategy = strategy;
        settings.compressionEffort = 3; // fast; the result is lossless at every effort
        return settings;
    }

    static TaskItem run(const TaskItem &task, const AppSettings &settings, QList<TaskItem> *updates = nullptr)
    {
        FileJob job(task, settings);
        QList<TaskItem> seen;
        connect(&job, &FileJob::updated, &job, [&seen](const TaskItem &t) { seen.append(t); });
        QSignalSpy finished(&job, &FileJob::finished);
        job.start();
        if (!finished.wait(30000))
            qFatal("job did not finish");
        if (updates)
            *updates = seen;
        return job.task();
    }

    // Runs djxl on a JXL and returns what it rebuilt.
    QByteArray restored(const QString &jxl)
    {
        const QString out = m_root.filePath(QStringLiteral("check.jpg"));
        QFile::remove(out);
        QProcess djxl;
        djxl.start(QStringLiteral("djxl"), {jxl, out});
        djxl.waitForFinished(60000);
        return TestEnv::readAll(out);
    }

    static QStringList trashed()
    {
        return QDir(QDir::homePath() + QStringLiteral("/.local/share/Trash/files")).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.filePath(QStringLiteral("user")));
        qputenv("TMPDIR", QFile::encodeName(m_root.filePath(QStringLiteral("tmp"))));
        QDir().mkpath(m_root.filePath(QStringLiteral("tmp")));
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QDir().mkpath(m_work);
    }

    void compressKeepsTheOriginal()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work,
                                                 QStringLiteral("IMG_1.JPEG"));
        ::chmod(QFile::encodeName(source).constData(), 0640);
        const QDateTime old = QDateTime(QDate(2011, 5, 4), QTime(3, 2, 1));
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QByteArray original = TestEnv::readAll(source);

        QList<TaskItem> updates;
        const TaskItem done = run(makeTask(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal),
                                  &updates);
        QCOMPARE(done.status, TaskStatus::completed);
        QCOMPARE(updates.size(), 2);
        QCOMPARE(updates.first().status, TaskStatus::processing);
        QCOMPARE(updates.first().destinationURL, std::nullopt);
        QCOMPARE(updates.last(), done);

        const QString output = m_work + QStringLiteral("/IMG_1.jxl");
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(output));
        QCOMPARE(done.compressedSize, QFileInfo(output).size());
        QVERIFY(done.savedBytes() > 0);
        QVERIFY(done.duration.has_value());
        QVERIFY(!done.isVerified); // nothing is disposed of, so nothing was verified
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(restored(output), original);
        QCOMPARE(QFileInfo(output).lastModified(), old);
        QCOMPARE(QFileInfo(output).permissions(), QFileInfo(source).permissions());
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("IMG_1.JPEG"), QStringLiteral("IMG_1.jxl")}));
    }

    // Whenever the original goes (or verification is asked for), the output is verified first.
    void verifiedBeforeDisposal_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<bool>("verifyLossless");
        QTest::newRow("delete") << int(DeleteStrategy::deleteImmediately) << false;
        QTest::newRow("trash") << int(DeleteStrategy::moveToTrash) << false;
        QTest::newRow("keep, verify on") << int(DeleteStrategy::keepOriginal) << true;
    }

    void verifiedBeforeDisposal()
    {
        QFETCH(int, strategy);
        QFETCH(bool, verifyLossless);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/odd-but-lossless/progressive.jpg"), m_work,
                                                 QStringLiteral("my photo %1.jpg").arg(m_case));
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy(strategy));
        settings.verifyLossless = verifyLossless;
        QList<TaskItem> updates;
        const TaskItem done = run(makeTask(source, ConversionMode::jpegToJXL), settings, &updates);
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        QCOMPARE(updates.size(), 3);
        QCOMPARE(updates.at(1).status, TaskStatus::verifying);
        QCOMPARE(restored(done.destinationURL->toLocalFile()), original);
        QCOMPARE(QFile::exists(source), DeleteStrategy(strategy) == DeleteStrategy::keepOriginal);
        QCOMPARE(trashed().contains(QFileInfo(source).fileName()), DeleteStrategy(strategy) == DeleteStrategy::moveToTrash);
    }

    // cjxl exits 0, but djxl gives back other bytes: only the byte comparison catches it.
    void silentMismatchNeverDeletesTheOriginal()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/silent-mismatch/restart-zero-padding.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        const TaskItem done = run(makeTask(source, ConversionMode::jpegToJXL),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY(done.errorMessage->startsWith(QStringLiteral("无损校验未通过: 哈希比对不一致 (原文件: ")));
        QVERIFY(!done.isVerified);
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("restart-zero-padding.jpg")});
        QCOMPARE(TestEnv::entries(m_root.filePath(QStringLiteral("tmp"))), QStringList());
    }

    void refusedPhotosFailWithTheToolsMessage_data()
    {
        QTest::addColumn<QString>("file");
        for (const QString &name : QDir(TestEnv::dataPath(QStringLiteral("jpeg/unsupported"))).entryList(QDir::Files))
            QTest::newRow(qPrintable(name)) << QStringLiteral("jpeg/unsupported/") + name;
        QTest::newRow("truncated scan") << QStringLiteral("jpeg/undecodable/truncated-scan.jpg");
    }

    void refusedPhotosFailWithTheToolsMessage()
    {
        QFETCH(QString, file);
        const QString source = TestEnv::copyData(file, m_work);
        const QByteArray original = TestEnv::readAll(source);
        const TaskItem done = run(makeTask(source, ConversionMode::jpegToJXL),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        // What the markers say comes first (tested with the diagnosis), then the tool's own text.
        QVERIFY2(done.errorMessage->contains(QStringLiteral("cjxl 运行出错 (代码 1): ")), qPrintable(*done.errorMessage));
        QVERIFY(done.errorMessage->size() > QStringLiteral("cjxl 运行出错 (代码 1): ").size());
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QFileInfo(source).fileName()});
    }

    // photo.jpg and photo.jpeg both map to photo.jxl; deleting both originals must keep both photos.
    void twoSourcesForOneOutputName()
    {
        const QString a = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("photo.jpg"));
        const QString b = TestEnv::copyData(QStringLiteral("jpeg/cameras/Sony_HDR-HC3.jpg"), m_work,
                                            QStringLiteral("photo.jpeg"));
        const QByteArray bytesA = TestEnv::readAll(a);
        const QByteArray bytesB = TestEnv::readAll(b);

        // Both at once, so that they race for the name.
        const AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        FileJob first(makeTask(a, ConversionMode::jpegToJXL), settings);
        FileJob second(makeTask(b, ConversionMode::jpegToJXL), settings);
        QSignalSpy doneFirst(&first, &FileJob::finished);
        QSignalSpy doneSecond(&second, &FileJob::finished);
        first.start();
        second.start();
        QTRY_VERIFY_WITH_TIMEOUT(doneFirst.size() == 1 && doneSecond.size() == 1, 120000);
        QCOMPARE(first.task().status, TaskStatus::completed);
        QCOMPARE(second.task().status, TaskStatus::completed);
        QVERIFY(first.task().destinationURL != second.task().destinationURL);
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("photo (1).jxl"), QStringLiteral("photo.jxl")}));
        QCOMPARE(restored(first.task().destinationURL->toLocalFile()), bytesA);
        QCOMPARE(restored(second.task().destinationURL->toLocalFile()), bytesB);
    }

    void anExistingOutputIsNeverReplaced()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Kodak_CX7530.jpg"), m_work);
        const QString taken = m_work + QStringLiteral("/Kodak_CX7530.jxl");
        TestEnv::writeAll(taken, "somebody else's file");
        const TaskItem first = run(makeTask(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal));
        QCOMPARE(first.status, TaskStatus::completed);
        QCOMPARE(TestEnv::readAll(taken), QByteArray("somebody else's file"));
        QCOMPARE(first.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/Kodak_CX7530 (1).jxl")));

        // The same conversion again finds its own bytes there and keeps them.
        TaskItem again = makeTask(source, ConversionMode::jpegToJXL);
        again.destinationURL = first.destinationURL;
        const TaskItem second = run(again, settingsWith(DeleteStrategy::keepOriginal));
        QCOMPARE(second.status, TaskStatus::completed);
        QCOMPARE(second.destinationURL, first.destinationURL);
        QCOMPARE(TestEnv::entries(m_work).size(), 3);
    }

    void restoreRebuildsTheOriginalBytes()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work, QStringLiteral("a.jxl"));
        TestEnv::writeAll(m_work + QStringLiteral("/a.jpg"), "an unrelated a.jpg");
        const TaskItem done = run(makeTask(source, ConversionMode::jxlToJPEG),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/a (1).jpg")));
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/a (1).jpg")),
                 TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"))));
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/a.jpg")), QByteArray("an unrelated a.jpg"));
        QVERIFY(!QFile::exists(source));
    }

    // djxl turns these into newly encoded JPEGs with exit 0; deleting the JXL would lose the photo.
    void restoreRefusesJXLWithoutReconstructionData_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("no jbrd") << QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl");
        QTest::newRow("codestream") << QStringLiteral("jxl/pixels-only-codestream.jxl");
        QTest::newRow("pixels container") << QStringLiteral("jxl/pixels-only-container.jxl");
    }

    void restoreRefusesJXLWithoutReconstructionData()
    {
        QFETCH(QString, file);
        const QString source = TestEnv::copyData(file, m_work);
        const TaskItem done = run(makeTask(source, ConversionMode::jxlToJPEG),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("文件格式不匹配，预期为: 由 JPEG 无损转换的 JXL"));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QFileInfo(source).fileName()});
    }

    void restoreRefusesAPixelFallbackReportedByTheTool()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customDjxlPath = TestEnv::writeScript(
            m_work + QStringLiteral("/../fallback-djxl"),
            "echo 'could not decode losslessly to JPEG. Retrying with --pixels_to_jpeg' >&2; printf x > \"$2\"");
        const TaskItem done = run(makeTask(source, ConversionMode::jxlToJPEG), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("文件格式不匹配，预期为: 由 JPEG 无损转换的 JXL"));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("from-jpeg.jxl")});
    }

    void fakeToolFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("success without output") << QByteArray("exit 0") << QStringLiteral("找不到指定文件: ");
        QTest::newRow("killed mid-write") << QByteArray("head -c 5000 /dev/urandom > \"$2\"; kill -9 $$")
                                          << QStringLiteral("cjxl 被强制终止 (信号 9, SIGKILL)");
        // Wrong bytes with exit 0: the verifier's djxl cannot decode them, and nothing is deleted.
        QTest::newRow("wrong bytes") << QByteArray("cp \"$1\" \"$2\"") << QStringLiteral("djxl 运行出错 (代码 ");
    }

    void fakeToolFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, message);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customCjxlPath = TestEnv::writeScript(m_work + QStringLiteral("/../fake-cjxl"), script);
        const TaskItem done = run(makeTask(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY2(done.errorMessage->startsWith(message), qPrintable(*done.errorMessage));
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }

    // A missing JXL is reported as missing, not as one without reconstruction data.
    void missingSourceToRestore()
    {
        const QString gone = m_work + QStringLiteral("/gone.jxl");
        const TaskItem done = run(makeTask(gone, ConversionMode::jxlToJPEG), settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(*done.errorMessage, QStringLiteral("找不到指定文件: ") + gone);
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/gone.jpg")));
    }

    void cancelBringsTheJobBackPending()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customCjxlPath = TestEnv::writeScript(m_work + QStringLiteral("/../slow-cjxl"),
                                                       "head -c 100 /dev/zero > \"$2\"; exec sleep 60");
        TaskItem task = makeTask(source, ConversionMode::jpegToJXL);
        task.status = TaskStatus::failed;
        task.errorMessage = QStringLiteral("earlier failure");
        FileJob job(task, settings);
        QSignalSpy finished(&job, &FileJob::finished);
        job.start();
        QTRY_COMPARE(TestEnv::entries(m_work).size(), 2); // the temporary output exists
        job.cancel();
        QVERIFY(finished.wait(10000));
        TaskItem expected = task;
        expected.status = TaskStatus::pending;
        QCOMPARE(job.task(), expected);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
