#include "engine/filedigest.h"
#include "engine/fileidentity.h"
#include "engine/jxlcontainer.h"
#include "engine/toolcommands.h"
#include "engine/toolrun.h"
#include "engine/verifier.h"
#include "engine/whenready.h"
#include "platform/processowner.h"
#include "engineruns.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <memory>

// Tool search, command lines and error texts of the tool runs, the JXL box reader and the verifier.
class TestEngine final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tmp;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The verification's error text, empty on a pass.
    static QString verifyError(const QString &jpeg, const QString &jxl, const QString &djxl = QString())
    {
        Verification verification(jpeg, jxl, djxl);
        QSignalSpy spy(&verification, &Verification::finished);
        verification.start();
        if (!spy.wait(60000))
            qFatal("verification did not finish");
        if (verification.outcome() == Verification::Outcome::passed)
            return {};
        return verification.error() ? verification.error()->errorDescription() : QStringLiteral("cancelled");
    }

    QStringList leftoverVerifyFiles() const
    {
        // Copies live in private folders of their own; neither may outlive the verification.
        return QDir(m_tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tmp = TestEnv::isolateTemporaries(path(QStringLiteral("tmp")));
        TestEnv::isolateHome(path(QStringLiteral("root")));
    }

    // A background step's result reaches its owner once, from the event loop, and never after
    // the owner is gone: a job whose step ran twice would end twice.
    void resultsReachTheirOwnerOnce()
    {
        QObject owner;
        QList<int> results;
        QFuture<int> done = QtConcurrent::run([] { return 7; });
        done.waitForFinished();
        whenReady(&owner, done, [&](int value) { results.append(value); });
        QVERIFY(results.isEmpty()); // not inside the call, even for a future already finished
        QSemaphore release;
        const QFuture<int> running = QtConcurrent::run([&release] {
            release.acquire();
            return 8;
        });
        whenReady(&owner, running, [&](int value) { results.append(value); });
        release.release();
        QTRY_COMPARE(results, (QList<int>{7, 8}));

        auto gone = std::make_unique<QObject>();
        bool ranAfterOwner = false;
        QSemaphore later;
        QFuture<int> orphan = QtConcurrent::run([&later] {
            later.acquire();
            return 9;
        });
        whenReady(gone.get(), orphan, [&](int) { ranAfterOwner = true; });
        gone.reset();
        later.release();
        orphan.waitForFinished();
        QCoreApplication::processEvents();
        QVERIFY(!ranAfterOwner);
        QCOMPARE(results, (QList<int>{7, 8})); // each step once
    }

    void customPathWinsOnlyWhenExecutable()
    {
        const QString folderA = path(QStringLiteral("a"));
        const QString folderB = path(QStringLiteral("b"));
        TestEnv::writeScript(folderA + QStringLiteral("/tool"), "exit 0");
        TestEnv::writeScript(folderB + QStringLiteral("/tool"), "exit 0");
        const QString custom = TestEnv::writeScript(path(QStringLiteral("custom-tool")), "exit 0");
        const QString notExecutable = path(QStringLiteral("plain-tool"));
        TestEnv::writeAll(notExecutable, "#!/bin/sh\n");
        QDir().mkpath(path(QStringLiteral("c/tool"))); // a folder is not a tool

        const QStringList folders{path(QStringLiteral("c")), folderA, folderB};
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("tool"), custom, folders), custom);
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("tool"), notExecutable, folders),
                 folderA + QStringLiteral("/tool"));
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("tool"), path(QStringLiteral("nothing")), folders),
                 folderA + QStringLiteral("/tool"));
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("tool"), QString(), {folderB, folderA}),
                 folderB + QStringLiteral("/tool"));
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("absent-tool"), QString(), folders), std::nullopt);
    }

    void effortIsClamped()
    {
        for (const auto &[effort, argument] : {std::pair{-3, "1"}, {0, "1"}, {7, "7"}, {12, "9"}})
            QCOMPARE(ToolCommands::cjxlArguments(QStringLiteral("/a b/源.jpg"), QStringLiteral("/out.jxl"), effort),
                     (QStringList{QStringLiteral("/a b/源.jpg"), QStringLiteral("/out.jxl"),
                                  QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-q"), QStringLiteral("100"),
                                  QStringLiteral("-e"), QLatin1String(argument)}));
    }

    void pathsReachTheToolAsSingleArguments()
    {
        const QString log = path(QStringLiteral("args.txt"));
        const QString tool = TestEnv::writeScript(
            path(QStringLiteral("echo-args")),
            "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + QFile::encodeName(log) + "'");
        const QString source = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), path(QStringLiteral("照片 夹")),
                                                 QStringLiteral("我的 照片.jxl"));
        const QString output = path(QStringLiteral("照片 夹/out put.jpg"));
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJXLtoJPEG(source, output, tool));
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::succeeded);
        QCOMPARE(TestEnv::readAll(log), QFile::encodeName(source) + '\n' + QFile::encodeName(output) + '\n');
    }

    void failuresBecomeTheirTexts_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one stderr line")
            << QByteArray("echo 'Unexpected end of scan.' >&2; exit 1")
            << QStringLiteral("cjxl 运行出错 (代码 1): Unexpected end of scan.");
        QTest::newRow("silent") << QByteArray("exit 3") << QStringLiteral("cjxl 运行出错 (代码 3): ");
        QTest::newRow("not utf-8") << QByteArray("printf '\\377\\376bad' >&2; exit 2")
                                   << QStringLiteral("cjxl 运行出错 (代码 2): 未知错误");
        QTest::newRow("blank lines trimmed") << QByteArray("printf '\\n  two\\nlines \\n\\n' >&2; exit 1")
                                             << QStringLiteral("cjxl 运行出错 (代码 1): two\nlines");
        // Megabytes of output must not stall the tool on a full pipe; only the last 64 KiB are kept.
        QTest::newRow("flood") << QByteArray("head -c 3000000 /dev/zero | tr '\\0' x; "
                                             "head -c 3000000 /dev/zero | tr '\\0' y >&2; echo z >&2; exit 4")
                               << QStringLiteral("cjxl 运行出错 (代码 4): …") + QString(65534, QLatin1Char('y'))
                + QLatin1Char('z');
        // A tool killed by a signal says so; an exit status of 137 is a number the tool chose.
        QTest::newRow("SIGKILL") << QByteArray("echo 'half way' >&2; kill -KILL $$")
                                 << QStringLiteral("cjxl 被强制终止 (信号 9, SIGKILL)，系统可能内存不足: half way");
        QTest::newRow("SIGSEGV") << QByteArray("kill -SEGV $$") << QStringLiteral("cjxl 被信号终止 (信号 11, SIGSEGV): ");
        QTest::newRow("SIGTERM from elsewhere") << QByteArray("kill -TERM $$")
                                                << QStringLiteral("cjxl 被信号终止 (信号 15, SIGTERM): ");
        QTest::newRow("exit 137") << QByteArray("exit 137") << QStringLiteral("cjxl 运行出错 (代码 137): ");
    }

    void failuresBecomeTheirTexts()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, expected);
        const QString tool = TestEnv::writeScript(path(QStringLiteral("failing-cjxl")), script);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_dir.path());
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(source, path(QStringLiteral("x.jxl")), 7, tool));
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::failed);
        QCOMPARE(run->error()->errorDescription(), expected);
    }

    void earlyFailures()
    {
        const QStringList none{path(QStringLiteral("empty"))};
        QCOMPARE(ToolCommands::resolveToolPath(QStringLiteral("cjxl"), QString(), none), std::nullopt);
        QCOMPARE(JXLError::toolNotFound(QStringLiteral("cjxl")).errorDescription(),
                 QStringLiteral("未检测到 cjxl 工具。请确保已安装 libjxl-tools (sudo apt install libjxl-tools) 或在设置中指定路径。"));

        const QString tool = TestEnv::writeScript(path(QStringLiteral("ok-tool")), "exit 0");
        const QString missing = path(QStringLiteral("gone.jpg"));
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(missing, path(QStringLiteral("gone.jxl")), 7, tool));
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::failed);
        QCOMPARE(run->error()->errorDescription(), QStringLiteral("找不到指定文件: ") + missing);

        // A script whose interpreter does not exist cannot be started at all.
        const QString broken = path(QStringLiteral("broken-tool"));
        TestEnv::writeAll(broken, "#!/nonexistent/interpreter\n");
        QFile::setPermissions(broken, QFile::ReadOwner | QFile::ExeOwner);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_dir.path());
        std::unique_ptr<ToolRun> failed(ToolRun::transcodeJPEGtoJXL(source, path(QStringLiteral("b.jxl")), 7, broken));
        QCOMPARE(EngineRuns::runToEnd(failed.get()), ToolRun::Outcome::failed);
        QCOMPARE(failed->error()->kind, JXLError::Kind::platform);
        QVERIFY(!failed->error()->errorDescription().isEmpty());
    }

    void cancelKillsTheTool()
    {
        const QString pidFile = path(QStringLiteral("sleeper.pid"));
        const QString tool = TestEnv::writeScript(path(QStringLiteral("sleeper")),
                                                  "echo $$ > '" + QFile::encodeName(pidFile) + "'; exec sleep 60");
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_dir.path());
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(source, path(QStringLiteral("s.jxl")), 7, tool));
        QSignalSpy spy(run.get(), &ToolRun::finished);
        run->start();
        QTRY_VERIFY(QFile::exists(pidFile) && !TestEnv::readAll(pidFile).isEmpty());
        QElapsedTimer clock;
        clock.start();
        run->cancel();
        QVERIFY(spy.wait(10000));
        QVERIFY(clock.elapsed() < 8000);
        QCOMPARE(run->outcome(), ToolRun::Outcome::cancelled);
        const QByteArray pid = TestEnv::readAll(pidFile).trimmed();
        QVERIFY(!QFile::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid) + QStringLiteral("/cmdline"))
                || TestEnv::readAll(QStringLiteral("/proc/") + QString::fromLatin1(pid) + QStringLiteral("/stat"))
                       .contains(" Z "));
    }

    void containerBoxes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("reconstructable");
        using K = JXLContainer::Kind;
        QTest::newRow("from jpeg") << QStringLiteral("jxl/from-jpeg.jxl") << int(K::container) << true;
        QTest::newRow("no jbrd") << QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl") << int(K::container) << false;
        QTest::newRow("codestream") << QStringLiteral("jxl/pixels-only-codestream.jxl") << int(K::bareCodestream) << false;
        QTest::newRow("pixels container") << QStringLiteral("jxl/pixels-only-container.jxl") << int(K::container) << false;
        QTest::newRow("a jpeg") << QStringLiteral("jpeg/cameras/Canon_40D.jpg") << int(K::notJXL) << false;
        QTest::newRow("missing") << QStringLiteral("jxl/none.jxl") << int(K::unreadable) << false;
    }

    void containerBoxes()
    {
        QFETCH(QString, file);
        QFETCH(int, kind);
        QFETCH(bool, reconstructable);
        const JXLContainer::Info info = JXLContainer::inspect(TestEnv::dataPath(file));
        QCOMPARE(int(info.kind), kind);
        QCOMPARE(info.hasJpegReconstruction, reconstructable);
    }

    void malformedBoxSizesEndTheWalk()
    {
        // A signature box followed by boxes claiming sizes of 3, 0 (to the end) and 2^64-1.
        const QByteArray signature = QByteArray::fromHex("0000000c4a584c200d0a870a");
        for (const QByteArray &box : {QByteArray::fromHex("00000003667479700000"),
                                      QByteArray::fromHex("000000006a786c630000"),
                                      QByteArray::fromHex("000000016a786c63ffffffffffffffff")}) {
            const QString file = path(QStringLiteral("odd.jxl"));
            TestEnv::writeAll(file, signature + box + "jbrd");
            QVERIFY(!JXLContainer::inspect(file).hasJpegReconstruction);
        }
    }

    void digests()
    {
        const QString empty = path(QStringLiteral("empty.bin"));
        TestEnv::writeAll(empty, QByteArray());
        QCOMPARE(FileDigest::sha256(empty), QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
        // Larger than one chunk, so the chunked reading is exercised.
        const QString big = path(QStringLiteral("big.bin"));
        const QByteArray data(3 * 1024 * 1024 + 17, 'p');
        TestEnv::writeAll(big, data);
        QCOMPARE(FileDigest::sha256(big),
                 QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));
    }

    // A file counts as untouched only when its inode, size and times are the same and its times
    // were old enough, when first seen, that a write in the same clock tick could not hide.
    void untouchedFiles_data()
    {
        QTest::addColumn<qint64>("modifiedAgo"); // before the first look, in ms
        QTest::addColumn<qint64>("changedAgo");
        QTest::addColumn<QString>("moved");      // what differs at the second look
        QTest::addColumn<bool>("untouched");
        QTest::newRow("old and unchanged") << qint64(60000) << qint64(60000) << QString() << true;
        QTest::newRow("written just before") << qint64(5) << qint64(5) << QString() << false;
        QTest::newRow("renamed just before") << qint64(60000) << qint64(5) << QString() << false;
        QTest::newRow("modified since") << qint64(60000) << qint64(60000) << QStringLiteral("modified") << false;
        QTest::newRow("changed since") << qint64(60000) << qint64(60000) << QStringLiteral("changed") << false;
        QTest::newRow("another inode") << qint64(60000) << qint64(60000) << QStringLiteral("inode") << false;
        QTest::newRow("another size") << qint64(60000) << qint64(60000) << QStringLiteral("size") << false;
    }

    void untouchedFiles()
    {
        QFETCH(qint64, modifiedAgo);
        QFETCH(qint64, changedAgo);
        QFETCH(QString, moved);
        QFETCH(bool, untouched);
        FileIdentity first;
        first.device = 8;
        first.inode = 1234;
        first.size = 5000;
        first.takenNs = 1'800'000'000'000'000'000;
        first.modifiedNs = first.takenNs - modifiedAgo * 1'000'000;
        first.changedNs = first.takenNs - changedAgo * 1'000'000;
        FileIdentity second = first;
        second.takenNs += 1'000'000'000;
        second.modifiedNs += moved == QStringLiteral("modified") ? 1 : 0;
        second.changedNs += moved == QStringLiteral("changed") ? 1 : 0;
        second.inode += moved == QStringLiteral("inode") ? 1 : 0;
        second.size += moved == QStringLiteral("size") ? 1 : 0;
        QCOMPARE(second.untouchedSince(first), untouched);
        QCOMPARE(second.sameFile(first), moved != QStringLiteral("inode") && moved != QStringLiteral("size"));
    }

    void verifierPassesARealRoundTrip()
    {
        if (TestEnv::installedTool(QStringLiteral("djxl")).isEmpty())
            QSKIP("djxl is not installed");
        // The first verification of a process clears what dead processes left in the temporary
        // folder; a live process's folder stays.
        QProcess gone;
        gone.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
        QVERIFY(gone.waitForFinished());
        const QString host = ProcessOwner::ownTag().section(QLatin1Char('-'), 0, 0);
        const QString dead = m_tmp + QStringLiteral("/pikora-%1-%2-7-Ab12Cd").arg(host, QString::fromLatin1(gone.readAllStandardOutput().trimmed()));
        const QString live = m_tmp + QStringLiteral("/pikora-") + ProcessOwner::ownTag() + QStringLiteral("-Zz99Yy");
        TestEnv::writeAll(dead + QStringLiteral("/verify_1.jpg"), "a dead run's copy");
        TestEnv::writeAll(live + QStringLiteral("/verify_2.jpg"), "a live run's copy");

        const QString jpeg = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        QCOMPARE(verifyError(jpeg, TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"))), QString());
        QVERIFY(!QFileInfo::exists(dead));
        QCOMPARE(TestEnv::readAll(live + QStringLiteral("/verify_2.jpg")), QByteArray("a live run's copy"));
        QVERIFY(QDir(live).removeRecursively());
        QVERIFY(leftoverVerifyFiles().isEmpty());

        // Without reconstruction data djxl "succeeds" with other bytes: only the digest catches it.
        QVERIFY(verifyError(jpeg, TestEnv::dataPath(QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl")))
                    .startsWith(QStringLiteral("无损校验未通过: 哈希比对不一致 (原文件: ")));
        QVERIFY(verifyError(jpeg, TestEnv::dataPath(QStringLiteral("jxl/truncated.jxl")))
                    .startsWith(QStringLiteral("djxl 运行出错 (代码 1)")));
        QVERIFY(leftoverVerifyFiles().isEmpty());
    }

    void verifierComparesBytesNotSizes()
    {
        const QString original = path(QStringLiteral("original.jpg"));
        TestEnv::writeAll(original, "0123456789");
        const QString jxl = path(QStringLiteral("any.jxl"));
        TestEnv::writeAll(jxl, "x");
        const auto fakeDjxl = [&](const QByteArray &bytes) {
            return TestEnv::writeScript(path(QStringLiteral("fake-djxl")), "printf '" + bytes + "' > \"$2\"");
        };
        QCOMPARE(verifyError(original, jxl, fakeDjxl("0123456789")), QString());

        const QString longer = verifyError(original, jxl, fakeDjxl("0123456789!"));
        QString digestOriginal = FileDigest::sha256(original)->left(8);
        QString digestLonger = QString::fromLatin1(
            QCryptographicHash::hash("0123456789!", QCryptographicHash::Sha256).toHex().left(8));
        QCOMPARE(longer, QStringLiteral("无损校验未通过: 哈希比对不一致 (原文件: ") + digestOriginal
                             + QStringLiteral("..., 还原: ") + digestLonger + QStringLiteral("...)"));

        // Same length, other bytes: a failure, never a pass.
        QVERIFY(verifyError(original, jxl, fakeDjxl("0123456780"))
                    .startsWith(QStringLiteral("无损校验未通过: 哈希比对不一致")));

        const QString silent = TestEnv::writeScript(path(QStringLiteral("silent-djxl")), "exit 0");
        QCOMPARE(verifyError(original, jxl, silent), QStringLiteral("无损校验未通过: 未能生成校验临时文件"));
        QVERIFY(leftoverVerifyFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
