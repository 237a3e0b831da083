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

using namespace Qt::StringLiterals;

// Tool search, command lines and error texts of the tool runs, the JXL box reader and the verifier.
class TestEngine final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_tmp;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // The verification's error text, empty on a pass; no copy may outlive it.
    QString verifyError(const QString &jpeg, const QString &jxl, const QString &djxl = QString())
    {
        Verification verification(jpeg, jxl, djxl);
        QSignalSpy spy(&verification, &Verification::finished);
        verification.start();
        if (!spy.wait(60000))
            qFatal("verification did not finish");
        if (!QDir(m_tmp).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            return u"copies left behind"_s;
        if (verification.outcome() == Verification::Outcome::passed)
            return {};
        return verification.error() ? verification.error()->errorDescription() : u"cancelled"_s;
    }

    std::unique_ptr<ToolRun> cjxlRun(const QString &tool, const QString &source = {})
    {
        const QString photo = source.isEmpty() ? TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_dir.path()) : source;
        return std::unique_ptr<ToolRun>(ToolRun::transcodeJPEGtoJXL(photo, path(u"x.jxl"_s), 7, tool));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_tmp = TestEnv::isolateTemporaries(path(u"tmp"_s));
        TestEnv::isolateHome(path(u"root"_s));
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
        QSemaphore later;
        whenReady(&owner, QtConcurrent::run([&release] { release.acquire(); return 8; }),
                  [&](int value) { results.append(value); });
        release.release();
        QTRY_COMPARE(results, (QList<int>{7, 8}));

        auto gone = std::make_unique<QObject>();
        bool ranAfterOwner = false;
        QFuture<int> orphan = QtConcurrent::run([&later] { later.acquire(); return 9; });
        whenReady(gone.get(), orphan, [&](int) { ranAfterOwner = true; });
        gone.reset();
        later.release();
        orphan.waitForFinished();
        QCoreApplication::processEvents();
        QVERIFY(!ranAfterOwner);
        QCOMPARE(results, (QList<int>{7, 8})); // each step once
    }

    void toolsAndTheirArguments()
    {
        const QString a = TestEnv::writeScript(path(u"a/tool"_s), "exit 0");
        const QString b = TestEnv::writeScript(path(u"b/tool"_s), "exit 0");
        const QString custom = TestEnv::writeScript(path(u"custom-tool"_s), "exit 0");
        TestEnv::writeAll(path(u"plain-tool"_s), "#!/bin/sh\n"); // not executable
        QDir().mkpath(path(u"c/tool"_s));                         // a folder is not a tool
        const QStringList folders{path(u"c"_s), path(u"a"_s), path(u"b"_s)};
        QCOMPARE(ToolCommands::resolveToolPath(u"tool"_s, custom, folders), custom);
        QCOMPARE(ToolCommands::resolveToolPath(u"tool"_s, path(u"plain-tool"_s), folders), a);
        QCOMPARE(ToolCommands::resolveToolPath(u"tool"_s, path(u"nothing"_s), folders), a);
        QCOMPARE(ToolCommands::resolveToolPath(u"tool"_s, QString(), {path(u"b"_s), path(u"a"_s)}), b);
        QCOMPARE(ToolCommands::resolveToolPath(u"absent-tool"_s, QString(), folders), std::nullopt);

        for (const auto &[effort, argument] : {std::pair{-3, "1"}, {0, "1"}, {7, "7"}, {12, "9"}})
            QCOMPARE(ToolCommands::cjxlArguments(u"/a.jpg"_s, u"/a.jxl"_s, effort).mid(5), (QStringList{u"-e"_s, QLatin1String(argument)}));
    }

    void failuresBecomeTheirTexts_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one stderr line") << QByteArray("echo 'Unexpected end of scan.' >&2; exit 1")
                                         << u"cjxl 运行出错 (代码 1): Unexpected end of scan."_s;
        QTest::newRow("not utf-8") << QByteArray("printf '\\377\\376bad' >&2; exit 2") << u"cjxl 运行出错 (代码 2): 未知错误"_s;
        QTest::newRow("blank lines trimmed") << QByteArray("printf '\\n  two\\nlines \\n\\n' >&2; exit 1")
                                             << u"cjxl 运行出错 (代码 1): two\nlines"_s;
        // Megabytes of output must not stall the tool on a full pipe; only the last 64 KiB are kept.
        QTest::newRow("flood") << QByteArray("head -c 3000000 /dev/zero | tr '\\0' x; "
                                             "head -c 3000000 /dev/zero | tr '\\0' y >&2; echo z >&2; exit 4")
                               << u"cjxl 运行出错 (代码 4): …"_s + QString(65534, u'y') + u'z';
        // Cut inside a three-byte character, the kept tail must not turn into "未知错误".
        QTest::newRow("long, cut in a character") << QByteArray("yes 错 | head -n 100000 | tr -d '\\n' >&2; echo ' the end' >&2; exit 1")
                                                  << u"cjxl 运行出错 (代码 1): …"_s + QString(21842, u'错') + u" the end"_s;
        // A tool killed by a signal says so; an exit status of 137 is a number the tool chose.
        QTest::newRow("SIGKILL") << QByteArray("echo 'half way' >&2; kill -KILL $$")
                                 << u"cjxl 被强制终止 (信号 9, SIGKILL)，系统可能内存不足: half way"_s;
        QTest::newRow("SIGSEGV") << QByteArray("kill -SEGV $$") << u"cjxl 被信号终止 (信号 11, SIGSEGV): "_s;
        QTest::newRow("exit 137") << QByteArray("exit 137") << u"cjxl 运行出错 (代码 137): "_s;
        // A missing source, and a script whose interpreter does not exist, fail before any tool runs.
        QTest::newRow("missing source") << QByteArray("exit 0") << u"找不到指定文件: "_s;
        QTest::newRow("cannot start") << QByteArray() << QString();
    }

    void failuresBecomeTheirTexts()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, expected);
        QString tool = TestEnv::writeScript(path(u"failing-cjxl"_s), script);
        if (script.isEmpty()) {
            TestEnv::writeAll(tool, "#!/nonexistent/interpreter\n");
            QFile::setPermissions(tool, QFile::ReadOwner | QFile::ExeOwner);
        }
        const QString missing = path(u"gone.jpg"_s);
        std::unique_ptr<ToolRun> run = cjxlRun(tool, expected.startsWith(u"找不到"_s) ? missing : QString());
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::failed);
        if (script.isEmpty())
            QCOMPARE(run->error()->kind, JXLError::Kind::platform);
        else
            QCOMPARE(run->error()->errorDescription(), expected.startsWith(u"找不到"_s) ? expected + missing : expected);
    }

    void cancelKillsTheTool()
    {
        const QString pidFile = path(u"sleeper.pid"_s);
        std::unique_ptr<ToolRun> run = cjxlRun(TestEnv::writeScript(path(u"sleeper"_s), "echo $$ > '" + QFile::encodeName(pidFile) + "'; exec sleep 60"));
        QSignalSpy spy(run.get(), &ToolRun::finished);
        run->start();
        QTRY_VERIFY(!TestEnv::readAll(pidFile).isEmpty());
        QElapsedTimer clock;
        clock.start();
        run->cancel();
        QVERIFY(spy.wait(10000));
        QVERIFY(clock.elapsed() < 8000);
        QCOMPARE(run->outcome(), ToolRun::Outcome::cancelled);
        const QString proc = u"/proc/"_s + QString::fromLatin1(TestEnv::readAll(pidFile).trimmed());
        QVERIFY(!QFile::exists(proc + u"/cmdline"_s) || TestEnv::readAll(proc + u"/stat"_s).contains(" Z "));
    }

    void containerBoxes_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("box"); // written after a signature box when there is no file
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("reconstructable");
        using K = JXLContainer::Kind;
        QTest::newRow("from jpeg") << u"jxl/from-jpeg.jxl"_s << QByteArray() << int(K::container) << true;
        QTest::newRow("no jbrd") << u"jxl/from-jpeg-no-reconstruction.jxl"_s << QByteArray() << int(K::container) << false;
        QTest::newRow("codestream") << u"jxl/pixels-only-codestream.jxl"_s << QByteArray() << int(K::bareCodestream) << false;
        QTest::newRow("a jpeg") << u"jpeg/cameras/Canon_40D.jpg"_s << QByteArray() << int(K::notJXL) << false;
        QTest::newRow("missing") << u"jxl/none.jxl"_s << QByteArray() << int(K::unreadable) << false;
        // Boxes claiming sizes of 3, 0 (to the end) and 2^64-1 end the walk before the jbrd after them.
        for (const char *box : {"00000003667479700000", "000000006a786c630000", "000000016a786c63ffffffffffffffff"})
            QTest::newRow(box) << QString() << QByteArray::fromHex(box) << -1 << false;
    }

    void containerBoxes()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, box);
        QFETCH(int, kind);
        QFETCH(bool, reconstructable);
        if (file.isEmpty())
            TestEnv::writeAll(file = path(u"odd.jxl"_s), QByteArray::fromHex("0000000c4a584c200d0a870a") + box + "jbrd");
        const JXLContainer::Info info = JXLContainer::inspect(box.isEmpty() ? TestEnv::dataPath(file) : file);
        if (kind >= 0)
            QCOMPARE(int(info.kind), kind);
        QCOMPARE(info.hasJpegReconstruction, reconstructable);
    }

    void digestOfAFileLargerThanOneChunk()
    {
        const QByteArray data(3 * 1024 * 1024 + 17, 'p');
        TestEnv::writeAll(path(u"big.bin"_s), data);
        QCOMPARE(FileDigest::sha256(path(u"big.bin"_s)), QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex()));
    }

    // A file counts as untouched only when its inode, size and times are the same and its times
    // were old enough, when first seen, that a write in the same clock tick could not hide.
    void untouchedFiles_data()
    {
        QTest::addColumn<qint64>("modifiedAgo"); // before the first look, in ms
        QTest::addColumn<qint64>("changedAgo");
        QTest::addColumn<QString>("moved"); // what differs at the second look
        QTest::addColumn<bool>("untouched");
        QTest::newRow("old and unchanged") << qint64(60000) << qint64(60000) << QString() << true;
        QTest::newRow("written just before") << qint64(5) << qint64(5) << QString() << false;
        QTest::newRow("renamed just before") << qint64(60000) << qint64(5) << QString() << false;
        for (const QString &moved : {u"modified"_s, u"changed"_s, u"inode"_s, u"size"_s})
            QTest::addRow("%s since", qPrintable(moved)) << qint64(60000) << qint64(60000) << moved << false;
    }

    void untouchedFiles()
    {
        QFETCH(qint64, modifiedAgo);
        QFETCH(qint64, changedAgo);
        QFETCH(QString, moved);
        QFETCH(bool, untouched);
        constexpr qint64 taken = 1'800'000'000'000'000'000;
        const FileIdentity first{8, 1234, 5000, taken - modifiedAgo * 1'000'000, taken - changedAgo * 1'000'000, taken};
        const auto moves = [&](const char *what) { return moved == QLatin1String(what) ? 1 : 0; };
        const FileIdentity second{8, 1234U + moves("inode"), 5000 + moves("size"), first.modifiedNs + moves("modified"),
                                  first.changedNs + moves("changed"), taken + 1'000'000'000};
        QCOMPARE(second.untouchedSince(first), untouched);
        QCOMPARE(second.sameFile(first), moved != u"inode"_s && moved != u"size"_s);
    }

    void verifierPassesARealRoundTrip()
    {
        if (TestEnv::installedTool(u"djxl"_s).isEmpty())
            QSKIP("djxl is not installed");
        // The first verification of a process clears what dead processes left in the temporary
        // folder; a live process's folder stays.
        QProcess gone;
        gone.start(u"sh"_s, {u"-c"_s, u"echo $$"_s});
        QVERIFY(gone.waitForFinished());
        const QString host = ProcessOwner::ownTag().section(u'-', 0, 0);
        const QString dead = m_tmp + u"/pikora-%1-%2-7-Ab12Cd"_s.arg(host, QString::fromLatin1(gone.readAllStandardOutput().trimmed()));
        const QString live = m_tmp + u"/pikora-"_s + ProcessOwner::ownTag() + u"-Zz99Yy"_s;
        TestEnv::writeAll(dead + u"/verify_1.jpg"_s, "a dead run's copy");
        TestEnv::writeAll(live + u"/verify_2.jpg"_s, "a live run's copy");

        const QString jpeg = TestEnv::dataPath(u"jpeg/cameras/Canon_40D.jpg"_s);
        QCOMPARE(verifyError(jpeg, TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s)), u"copies left behind"_s); // the live one
        QVERIFY(!QFileInfo::exists(dead));
        QCOMPARE(TestEnv::readAll(live + u"/verify_2.jpg"_s), QByteArray("a live run's copy"));
        QVERIFY(QDir(live).removeRecursively());
        QCOMPARE(verifyError(jpeg, TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s)), QString());
        // (Other bytes or a damaged JXL through the whole job: tst_pipeline.)
    }

    void verifierComparesBytesNotSizes()
    {
        const QString original = path(u"original.jpg"_s);
        TestEnv::writeAll(original, "0123456789");
        const QString jxl = path(u"any.jxl"_s);
        TestEnv::writeAll(jxl, "x");
        const auto fakeDjxl = [&](const QByteArray &bytes) {
            return TestEnv::writeScript(path(u"fake-djxl"_s), "printf '" + bytes + "' > \"$2\"");
        };
        QCOMPARE(verifyError(original, jxl, fakeDjxl("0123456789")), QString());
        // Same length, other bytes: a failure, never a pass.
        QVERIFY(verifyError(original, jxl, fakeDjxl("0123456780")).startsWith(u"无损校验未通过: 哈希比对不一致"_s));
        QCOMPARE(verifyError(original, jxl, TestEnv::writeScript(path(u"silent-djxl"_s), "exit 0")),
                 u"无损校验未通过: 未能生成校验临时文件"_s);
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
