#include "app/settingsstore.h"
#include "engine/diskspaceguard.h"
#include "engine/outputfiles.h"
#include "platform/preferences.h"
#include "platform/processowner.h"
#include "clirun.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

// pikora-cli as a user runs it: exit statuses, per-job JSON, run-only options and Ctrl-C.
class TestCli final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_case = 0;
    QString m_work;

    using Run = CliRun;
    static Run cli(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        return CliRun::run(arguments, {}, environment);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.filePath(QStringLiteral("user")));
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QDir().mkpath(m_work);
    }

    void badUsageExitsWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList{QStringLiteral("shrink"), QStringLiteral(".")};
        QTest::newRow("no paths") << QStringList{QStringLiteral("compress")};
        QTest::newRow("zero jobs") << QStringList{QStringLiteral("compress"), QStringLiteral("-j"), QStringLiteral("0"), QStringLiteral(".")};
        QTest::newRow("effort 10") << QStringList{QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("10"), QStringLiteral(".")};
        QTest::newRow("unknown originals") << QStringList{QStringLiteral("restore"), QStringLiteral("-o"), QStringLiteral("Trash"), QStringLiteral(".")};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("compress"), QStringLiteral("--fast"), QStringLiteral(".")};
        QTest::newRow("verify one file") << QStringList{QStringLiteral("verify"), QStringLiteral("a.jpg")};
    }

    void badUsageExitsWithTwo()
    {
        QFETCH(QStringList, arguments);
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(QStringLiteral("用法：pikora-cli")), run.err.constData());
    }

    void compressReportsEveryJobAndKeepsRunOptionsOutOfTheSettings()
    {
        for (const QString &name : {QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg")})
            TestEnv::copyData(QStringLiteral("jpeg/cameras/") + name, m_work);
        TestEnv::copyData(QStringLiteral("jpeg/unsupported/cmyk.jpg"), m_work + QStringLiteral("/sub"));
        const QByteArray cmyk = TestEnv::readAll(m_work + QStringLiteral("/sub/cmyk.jpg"));
        const Run before = cli({QStringLiteral("stats"), QStringLiteral("--json")});

        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-j"),
                             QStringLiteral("2"), QStringLiteral("-e"), QStringLiteral("2"), QStringLiteral("-o"),
                             QStringLiteral("delete"), m_work});
        QCOMPARE(run.exitCode, 1); // one photo was refused
        const QList<QJsonObject> jobs = run.jobs();
        QCOMPARE(jobs.size(), 3);
        int completed = 0;
        for (const QJsonObject &job : jobs) {
            if (job.value(QStringLiteral("status")).toString() == QStringLiteral("completed")) {
                ++completed;
                QVERIFY(job.value(QStringLiteral("verified")).toBool());
                QVERIFY(QFile::exists(job.value(QStringLiteral("output")).toString()));
                QVERIFY(!QFile::exists(job.value(QStringLiteral("source")).toString()));
                QVERIFY(job.value(QStringLiteral("outputSize")).toInteger() > 0);
            } else {
                QCOMPARE(job.value(QStringLiteral("status")).toString(), QStringLiteral("failed"));
                QVERIFY(job.value(QStringLiteral("error")).toString().startsWith(
                    QStringLiteral("此 JPEG 为 CMYK 色彩模式，cjxl 不支持对其无损转换。cjxl 运行出错 (代码 1): ")));
                QVERIFY(job.value(QStringLiteral("output")).isNull());
            }
        }
        QCOMPARE(completed, 2);
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/sub/cmyk.jpg")), cmyk);

        // The counters grew; the run's -j, -e and -o were not stored as settings.
        const QJsonObject stats = QJsonDocument::fromJson(cli({QStringLiteral("stats"), QStringLiteral("--json")}).out).object();
        const QJsonObject earlier = QJsonDocument::fromJson(before.out).object();
        QCOMPARE(stats.value(QStringLiteral("lifetimeProcessedCount")).toInteger(),
                 earlier.value(QStringLiteral("lifetimeProcessedCount")).toInteger() + 2);
        QVERIFY(stats.value(QStringLiteral("lifetimeSavedBytes")).toInteger()
                > earlier.value(QStringLiteral("lifetimeSavedBytes")).toInteger());
        const QByteArray config = TestEnv::readAll(QDir::homePath() + QStringLiteral("/.config/pikora/pikora.ini"));
        QVERIFY(!config.contains("appsettings"));

        // Restoring brings the JPEGs back; everything completed, so the exit status is 0.
        const Run restore = cli({QStringLiteral("restore"), QStringLiteral("-q"), m_work});
        QCOMPARE(restore.exitCode, 0);
        QVERIFY(restore.out.isEmpty());
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/Canon_40D.jpg")),
                 TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"))));
    }

    // The output location chosen in the window serves a run without --output-dir, and the option
    // wins for its own run; a chosen folder that has gone (its disk not mounted) stops the run
    // with exit status 2 and nothing made.
    void storedOutputFolderServesRunsWithoutTheOption()
    {
        const QString root = m_work + QStringLiteral("/2019");
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), root);
        const auto store = [](const QString &folder) {
            Preferences preferences;
            preferences.setData(SettingsStore::outputFolderKey, QFile::encodeName(folder));
            preferences.sync();
        };
        const QString gone = m_work + QStringLiteral("/unmounted/Backup");
        store(gone);
        const Run refused = cli({QStringLiteral("compress"), QStringLiteral("-q"), root});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("输出文件夹不存在：%1").arg(gone).toUtf8()), refused.err.constData());
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/unmounted")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Canon_40D.jxl")));

        const QString backup = m_work + QStringLiteral("/Backup");
        QVERIFY(QDir().mkpath(backup));
        store(backup);
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-q"), root}).exitCode, 0);
        QVERIFY(QFileInfo(backup + QStringLiteral("/2019/Canon_40D.jxl")).size() > 0);
        const QString given = m_work + QStringLiteral("/given");
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("--output-dir"), given, root}).exitCode, 0);
        QVERIFY(QFileInfo(given + QStringLiteral("/2019/Canon_40D.jxl")).size() > 0);
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Canon_40D.jxl")));
        TestEnv::forgetPreferences(); // the folder, and the volume the run remembered with it
    }

    // A card with less room than its photos take, originals deleted: each original's room
    // serves the outputs after it, so the run needs only the outputs that exist at once and a
    // margin sized to the card. Every photo converts and the card ends with more room.
    void aNearlyFullCardIsFreed()
    {
        ScratchVolume card(m_work + QStringLiteral("/card"), 2 * 1024 * 1024);
        if (!card.isMounted())
            QSKIP("mounting a small volume needs root");
        const QString photos = card.folder() + QStringLiteral("/DCIM");
        const QStringList cameras{QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg"),
                                  QStringLiteral("Pentax_K10D.jpg"), QStringLiteral("Panasonic_DMC-FZ30.jpg")};
        constexpr int kPhotos = 60;
        qint64 library = 0;
        for (int i = 0; i < kPhotos; ++i) {
            const QString name = QStringLiteral("IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
            library += QFileInfo(TestEnv::copyData(QStringLiteral("jpeg/cameras/") + cameras.at(i % cameras.size()),
                                                   photos, name)).size();
        }
        const auto room = [&] { return DiskSpaceGuard::getAvailableDiskSpace(card.folder()); };
        TestEnv::writeAll(card.folder() + QStringLiteral("/other"), QByteArray(room() - library / 2, 'x'));
        const qint64 before = room();
        QVERIFY2(before < library, qPrintable(QStringLiteral("%1 free, %2 of photos").arg(before).arg(library)));

        // Verification copies go to a temporary folder off the card, so only the card is measured.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), m_work);
        const Run run = cli({QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"), QStringLiteral("2"),
                             QStringLiteral("-o"), QStringLiteral("delete"), photos},
                            environment);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(QDir(photos).entryList({QStringLiteral("*.jpg")}, QDir::Files).size(), 0);
        QCOMPARE(QDir(photos).entryList({QStringLiteral("*.jxl")}, QDir::Files).size(), kPhotos);
        QVERIFY2(room() > before, qPrintable(QStringLiteral("%1 free before, %2 after").arg(before).arg(room())));
    }

    // Nothing to convert, yet the hidden temporaries a killed run left go from the folders given
    // and those holding photos; a live process's stay.
    void nothingFoundIsNoFailure()
    {
        TestEnv::writeAll(m_work + QStringLiteral("/notes.txt"), "no photos here");
        TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work + QStringLiteral("/sub"));
        // This process's pid with another start time: a process that ran and died.
        const QString dead = QStringLiteral(".pikora-%1-1-0123abcd.part.jxl").arg(ProcessOwner::ownTag().section(u'-', 0, 1));
        const QString live = QFileInfo(OutputFiles::temporarySibling(m_work + QStringLiteral("/a.jxl"))).fileName();
        for (const QString &path : QStringList{m_work + u'/' + dead, m_work + QStringLiteral("/sub/") + dead, m_work + u'/' + live})
            TestEnv::writeAll(path, "");
        const Run run = cli({QStringLiteral("compress"), m_work});
        QCOMPARE(run.exitCode, 0);
        QVERIFY(QString::fromUtf8(run.out).contains(QStringLiteral("未找到 JPEG 文件。")));
        QCOMPARE(TestEnv::entries(m_work), (QStringList{live, QStringLiteral("notes.txt")}));
        QCOMPARE(TestEnv::entries(m_work + QStringLiteral("/sub")), QStringList{QStringLiteral("from-jpeg.jxl")});
    }

    // Each command's own usage: asked for by --help, -h or "help COMMAND", whatever else the line
    // holds (exit 0, on standard output), and shown after a mistake in using it (exit 2).
    void commandHelp_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *command : {"compress", "restore", "verify", "scan", "stats", "check-update"})
            QTest::newRow(command) << QString::fromLatin1(command);
    }

    void commandHelp()
    {
        QFETCH(QString, command);
        const Run help = cli({command, QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        QVERIFY2(help.out.startsWith(QByteArray("用法：pikora-cli " + command.toUtf8() + ' ')) && help.err.isEmpty(), help.out.constData());
        QVERIFY2(help.out.contains("  -h, --help  "), help.out.constData());
        for (const QStringList &asked : {QStringList{command, QStringLiteral("-h")}, QStringList{QStringLiteral("help"), command},
                                         QStringList{command, QStringLiteral("--no-such-option"), QStringLiteral("-qh"), m_work}}) {
            const Run again = cli(asked);
            QCOMPARE(again.exitCode, 0);
            QCOMPARE(again.out, help.out);
        }
        const Run wrong = cli({command, QStringLiteral("--no-such-option")});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY2(wrong.err.endsWith(QByteArray("\n\n" + help.out)), wrong.err.constData());
    }

    void interruptBringsJobsBackAndExits130()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work);
        const QString marker = m_root.filePath(QStringLiteral("started"));
        const QString tool = TestEnv::writeScript(
            m_root.filePath(QStringLiteral("slow-cjxl")),
            "echo started >> '" + QFile::encodeName(marker) + "'; head -c 64 /dev/zero > \"$2\"; exec sleep 60");
        QProcess process;
        process.start(QStringLiteral(PIKORA_CLI_PATH),
                      {QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-j"), QStringLiteral("1"),
                       QStringLiteral("-o"), QStringLiteral("delete"), QStringLiteral("--cjxl"), tool, m_work});
        // The shell creates the marker before it writes to it: wait for the line itself.
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readAll(marker), QByteArray("started\n"), 30000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 130);
        const QByteArray out = process.readAllStandardOutput();
        QVERIFY(out.contains("\"status\":\"pending\""));
        QCOMPARE(TestEnv::readAll(marker), QByteArray("started\n")); // the queued job never started
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("Canon_40D.jpg"), QStringLiteral("Nikon_D70.jpg")}));
        QCOMPARE(TestEnv::readAll(source), TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"))));
    }

    void unreachablePathsFailTheRunButNotTheOthers()
    {
        const QString photo = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QString missing = m_work + QStringLiteral("/no/such/path");
        // A name that is not UTF-8 next to the real "\uFFFD.jpg" it would otherwise decode to.
        const QByteArray raw = QFile::encodeName(m_work) + "/\xFF.jpg";
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work, QStringLiteral("\uFFFD.jpg"));
        QCOMPARE(::link(QFile::encodeName(photo).constData(), raw.constData()), 0);

        const Run run = cli({QStringLiteral("compress"), missing, m_work});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromUtf8(run.err), QStringLiteral("pikora-cli: 找不到指定文件: ") + missing + QLatin1Char('\n'));
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(QStringLiteral("失败    ") + m_work + QStringLiteral("/\\xFF.jpg：文件名不是有效的 UTF-8 编码")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("完成    ") + photo));
        QVERIFY(out.contains(QStringLiteral("完成    ") + m_work + QStringLiteral("/\uFFFD.jpg")));
        QVERIFY(out.contains(QStringLiteral("2 个完成，1 个失败")));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/Canon_40D.jxl")));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/\uFFFD.jxl")));
        QCOMPARE(::unlink(raw.constData()), 0);

        // Nothing found but a missing path: still a failure. JSON lists no job then.
        const Run empty = cli({QStringLiteral("restore"), QStringLiteral("--json"), missing});
        QCOMPARE(empty.exitCode, 1);
        QVERIFY(empty.out.isEmpty());
        const Run scan = cli({QStringLiteral("scan"), missing});
        QCOMPARE(scan.exitCode, 1);
        QVERIFY(scan.err.contains("找不到指定文件"));
    }

    void givenToolsAreUsedOrNothingIs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("missing cjxl") << QStringList{QStringLiteral("compress"), QStringLiteral("--cjxl"), QStringLiteral("/nonexistent/cjxl")};
        QTest::newRow("cjxl is a folder") << QStringList{QStringLiteral("compress"), QStringLiteral("--cjxl"), QStringLiteral("/usr/bin")};
        QTest::newRow("djxl not executable") << QStringList{QStringLiteral("restore"), QStringLiteral("--djxl"), QStringLiteral("PLAIN")};
        QTest::newRow("djxl of a compress run") << QStringList{QStringLiteral("compress"), QStringLiteral("--djxl"), QStringLiteral("/nonexistent/djxl")};
        QTest::newRow("verify") << QStringList{QStringLiteral("verify"), QStringLiteral("--djxl"), QStringLiteral("/nonexistent/djxl")};
    }

    void givenToolsAreUsedOrNothingIs()
    {
        QFETCH(QStringList, arguments);
        const QString plain = m_work + QStringLiteral("/plain-tool");
        TestEnv::writeAll(plain, "#!/bin/sh\nexit 0\n");
        arguments.replaceInStrings(QStringLiteral("PLAIN"), plain);
        const QString photo = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        if (arguments.first() == QStringLiteral("verify"))
            arguments << photo << TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        else
            arguments << m_work;
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(QStringLiteral("：不是可执行文件")), run.err.constData());
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("Canon_40D.jpg"), QStringLiteral("plain-tool")}));
    }

    void verifyChecksWhatItWasGiven()
    {
        const QString jpeg = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        const QString jxl = TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        const Run swapped = cli({QStringLiteral("verify"), jxl, jpeg});
        QCOMPARE(swapped.exitCode, 2);
        QCOMPARE(QString::fromUtf8(swapped.err), QStringLiteral("pikora-cli: 参数顺序反了：verify 先接 JPEG，再接 JXL\n"));
        const Run twoJpegs = cli({QStringLiteral("verify"), jpeg, jpeg});
        QCOMPARE(twoJpegs.exitCode, 2);
        QCOMPARE(QString::fromUtf8(twoJpegs.err), QStringLiteral("pikora-cli: ") + jpeg + QStringLiteral(" 不是 JPEG XL 文件\n"));
        const Run missing = cli({QStringLiteral("verify"), m_work + QStringLiteral("/none.jpg"), jxl});
        QCOMPARE(missing.exitCode, 2);
        QVERIFY(QString::fromUtf8(missing.err).startsWith(QStringLiteral("pikora-cli: 无法读取 ")));
    }

    void argumentsThatAreNotUtf8AreRefused()
    {
        // QProcess can only pass text; the shell passes the raw byte.
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("\uFFFD.jpg"));
        QProcess process;
        process.setWorkingDirectory(m_work);
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" compress \"$(printf '\\377.jpg')\""),
                                                  QStringLiteral(PIKORA_CLI_PATH)});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(QString::fromUtf8(process.readAllStandardError()).contains(QStringLiteral("不是有效的 UTF-8")));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("\uFFFD.jpg")});
    }

    void originalsThatStayAreWarnedAbout()
    {
        // The fault shim makes deleting one original fail as an immutable file would.
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PIKORA_FAULT_SHIM_PATH));
        environment.insert(QStringLiteral("PIKORA_FAULTS"), QStringLiteral("deny=Canon_40D.jpg"));

        const Run run = cli({QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("delete"), m_work}, environment);
        QCOMPARE(run.exitCode, 1);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(QStringLiteral("/Canon_40D.jpg -> ")) && out.contains(QStringLiteral("\n        警告：")),
                 qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("2 个完成，0 个失败，1 个原文件未能移除")));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/Canon_40D.jpg")));
        QVERIFY(!QFile::exists(m_work + QStringLiteral("/Nikon_D70.jpg")));

        // The JSON carries it per job; the converted copy of the kept original is already there.
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work, QStringLiteral("second.jpg"));
        environment.insert(QStringLiteral("PIKORA_FAULTS"), QStringLiteral("deny=second.jpg"));
        const Run json = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-o"), QStringLiteral("delete"),
                              m_work + QStringLiteral("/second.jpg")}, environment);
        QCOMPARE(json.exitCode, 1);
        const QList<QJsonObject> jobs = json.jobs();
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs.first().value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QVERIFY(!jobs.first().value(QStringLiteral("warning")).toString().isEmpty());
    }

    // Under an English locale the same messages read in English, the core's reasons too; the
    // JSON does not change with the language.
    void englishUnderAnEnglishLocale()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));

        const QString photo = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work);
        const QString missing = m_work + QStringLiteral("/no/such/path");
        const Run run = cli({QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("keep"), missing, m_work},
                            environment);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(QString::fromUtf8(run.err), QStringLiteral("pikora-cli: File not found: ") + missing + QLatin1Char('\n'));
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(QStringLiteral("ok      ") + photo + QStringLiteral(" -> ") + m_work
                              + QStringLiteral("/Canon_40D.jxl  (")),
                 qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("\n2 completed, 0 failed, saved ")), qPrintable(out));

        const Run scan = cli({QStringLiteral("scan"), photo}, environment);
        QVERIFY2(scan.out.startsWith("JPEG:      1 file, ") && scan.out.contains("\nJPEG XL:   0 files, "), scan.out.constData());
    }

    void verifyAndScan()
    {
        const QString jpeg = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        QCOMPARE(cli({QStringLiteral("verify"), jpeg, TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"))}).exitCode, 0);
        const Run mismatch =
            cli({QStringLiteral("verify"), jpeg, TestEnv::dataPath(QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl"))});
        QCOMPARE(mismatch.exitCode, 1);
        QVERIFY(QString::fromUtf8(mismatch.err).startsWith(QStringLiteral("无损校验未通过: 哈希比对不一致")));

        const Run scan = cli({QStringLiteral("scan"), QStringLiteral("--json"), TestEnv::dataPath(QStringLiteral("jxl")),
                              TestEnv::dataPath(QStringLiteral("jpeg/cameras"))});
        QCOMPARE(scan.exitCode, 0);
        const QJsonObject counts = QJsonDocument::fromJson(scan.out).object();
        QCOMPARE(counts.value(QStringLiteral("jpegFiles")).toInt(), 19);
        QCOMPARE(counts.value(QStringLiteral("jxlFiles")).toInt(), 5);
        QCOMPARE(counts.value(QStringLiteral("estimatedSavedBytes")).toInteger(),
                 counts.value(QStringLiteral("jpegBytes")).toInteger() / 4);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
