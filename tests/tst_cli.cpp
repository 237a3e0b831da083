#include "app/settingsstore.h"
#include "engine/outputfiles.h"
#include "platform/preferences.h"
#include "platform/processowner.h"
#include "clirun.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <unistd.h>

namespace {

// A command line written as one text; its words are separated by single blanks.
QStringList words(const char *line) { return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts); }

QString camera(const char *name) { return QStringLiteral("jpeg/cameras/") + QLatin1String(name); }

} // namespace

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
    // Canon_40D.jpg and Nikon_D70.jpg copied into the case's folder; the first one's path.
    QString twoPhotos()
    {
        TestEnv::copyData(camera("Nikon_D70.jpg"), m_work);
        return TestEnv::copyData(camera("Canon_40D.jpg"), m_work);
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
        for (const char *line : {"", "shrink .", "compress", "compress -j 0 .", "compress -e 10 .", "restore -o Trash .", "verify a.jpg"})
            QTest::newRow(line) << words(line);
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
        twoPhotos();
        TestEnv::copyData(QStringLiteral("jpeg/unsupported/cmyk.jpg"), m_work + QStringLiteral("/sub"));
        const QByteArray cmyk = TestEnv::readAll(m_work + QStringLiteral("/sub/cmyk.jpg"));
        const auto stats = [] { return QJsonDocument::fromJson(cli(words("stats --json")).out).object(); };
        const QJsonObject before = stats();

        const Run run = cli(words("compress --json -j 2 -e 2 -o delete") << m_work);
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
                QVERIFY(!job.value(QStringLiteral("error")).toString().isEmpty());
                QVERIFY(job.value(QStringLiteral("output")).isNull());
            }
        }
        QCOMPARE(completed, 2);
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/sub/cmyk.jpg")), cmyk);

        // The counters grew; the run's -j, -e and -o were not stored as settings.
        const QString count = QStringLiteral("lifetimeProcessedCount");
        QCOMPARE(stats().value(count).toInteger(), before.value(count).toInteger() + 2);
        QVERIFY(!TestEnv::readAll(QDir::homePath() + QStringLiteral("/.config/pikora/pikora.ini")).contains("appsettings"));

        // Restoring brings the JPEGs back; everything completed, so the exit status is 0.
        const Run restore = cli(words("restore -q") << m_work);
        QVERIFY(restore.exitCode == 0 && restore.out.isEmpty());
        QCOMPARE(TestEnv::readAll(m_work + QStringLiteral("/Canon_40D.jpg")), TestEnv::readAll(TestEnv::dataPath(camera("Canon_40D.jpg"))));
    }

    // The output location chosen in the window serves a run without --output-dir, and the option
    // wins for its own run; a chosen folder that has gone (its disk not mounted) stops the run
    // with exit status 2 and nothing made.
    void storedOutputFolderServesRunsWithoutTheOption()
    {
        const QString root = m_work + QStringLiteral("/2019");
        TestEnv::copyData(camera("Canon_40D.jpg"), root);
        const auto store = [](const QString &folder) {
            Preferences preferences;
            preferences.setData(SettingsStore::outputFolderKey, QFile::encodeName(folder));
            preferences.sync();
        };
        const QString gone = m_work + QStringLiteral("/unmounted/Backup");
        store(gone);
        const Run refused = cli(words("compress -q") << root);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(gone.toUtf8()), refused.err.constData());
        QVERIFY(!QFileInfo::exists(m_work + QStringLiteral("/unmounted")));
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Canon_40D.jxl")));

        const QString backup = m_work + QStringLiteral("/Backup");
        QVERIFY(QDir().mkpath(backup));
        store(backup);
        QCOMPARE(cli(words("compress -q") << root).exitCode, 0);
        QVERIFY(QFileInfo(backup + QStringLiteral("/2019/Canon_40D.jxl")).size() > 0);
        const QString given = m_work + QStringLiteral("/given");
        QCOMPARE(cli(words("compress -q --output-dir") << given << root).exitCode, 0);
        QVERIFY(QFileInfo(given + QStringLiteral("/2019/Canon_40D.jxl")).size() > 0);
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/Canon_40D.jxl")));
        TestEnv::forgetPreferences(); // the folder, and the volume the run remembered with it
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
        QCOMPARE(cli(words("compress -q") << m_work).exitCode, 0);
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
        for (const QStringList &asked : {QStringList{command, QStringLiteral("-h")}, QStringList{QStringLiteral("help"), command},
                                         QStringList{command, QStringLiteral("--no-such-option"), QStringLiteral("-qh"), m_work}}) {
            const Run again = cli(asked);
            QVERIFY(again.exitCode == 0 && again.out == help.out);
        }
        const Run wrong = cli({command, QStringLiteral("--no-such-option")});
        QCOMPARE(wrong.exitCode, 2);
        QVERIFY2(wrong.err.endsWith(QByteArray("\n\n" + help.out)), wrong.err.constData());
    }

    void interruptBringsJobsBackAndExits130()
    {
        const QString source = twoPhotos();
        const QString marker = m_root.filePath(QStringLiteral("started"));
        const QString tool = TestEnv::writeScript(
            m_root.filePath(QStringLiteral("slow-cjxl")),
            "echo started >> '" + QFile::encodeName(marker) + "'; head -c 64 /dev/zero > \"$2\"; exec sleep 60");
        QProcess process;
        process.start(QStringLiteral(PIKORA_CLI_PATH), words("compress --json -j 1 -o delete --cjxl") << tool << m_work);
        // The shell creates the marker before it writes to it: wait for the line itself.
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readAll(marker), QByteArray("started\n"), 30000);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(process.readAllStandardOutput().contains("\"status\":\"pending\""));
        QCOMPARE(TestEnv::readAll(marker), QByteArray("started\n")); // the queued job never started
        QCOMPARE(TestEnv::entries(m_work), words("Canon_40D.jpg Nikon_D70.jpg"));
        QCOMPARE(TestEnv::readAll(source), TestEnv::readAll(TestEnv::dataPath(camera("Canon_40D.jpg"))));
    }

    void unreachablePathsFailTheRunButNotTheOthers()
    {
        const QString photo = TestEnv::copyData(camera("Canon_40D.jpg"), m_work);
        const QString missing = m_work + QStringLiteral("/no/such/path");
        // A name that is not UTF-8 next to the real "\uFFFD.jpg" it would otherwise decode to.
        const QByteArray raw = QFile::encodeName(m_work) + "/\xFF.jpg";
        TestEnv::copyData(camera("Nikon_D70.jpg"), m_work, QStringLiteral("\uFFFD.jpg"));
        QCOMPARE(::link(QFile::encodeName(photo).constData(), raw.constData()), 0);

        const Run run = cli({QStringLiteral("compress"), missing, m_work});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(missing.toUtf8()), run.err.constData());
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(QStringLiteral("失败    ") + m_work + QStringLiteral("/\\xFF.jpg：")), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("2 个完成，1 个失败")));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/Canon_40D.jxl")));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/\uFFFD.jxl")));
        QCOMPARE(::unlink(raw.constData()), 0);

        // Nothing found but a missing path: still a failure. JSON lists no job then.
        const Run empty = cli(words("restore --json") << missing);
        QVERIFY(empty.exitCode == 1 && empty.out.isEmpty());
        QCOMPARE(cli({QStringLiteral("scan"), missing}).exitCode, 1);
    }

    void givenToolsAreUsedOrNothingIs_data()
    {
        QTest::addColumn<QStringList>("arguments");
        for (const char *line : {"compress --cjxl /nonexistent/cjxl", "compress --cjxl /usr/bin", "restore --djxl PLAIN",
                                 "compress --djxl /nonexistent/djxl", "verify --djxl /nonexistent/djxl"})
            QTest::newRow(line) << words(line);
    }

    void givenToolsAreUsedOrNothingIs()
    {
        QFETCH(QStringList, arguments);
        const QString plain = m_work + QStringLiteral("/plain-tool"); // not executable
        TestEnv::writeAll(plain, "#!/bin/sh\nexit 0\n");
        arguments.replaceInStrings(QStringLiteral("PLAIN"), plain);
        const QString photo = TestEnv::copyData(camera("Canon_40D.jpg"), m_work);
        if (arguments.first() == QStringLiteral("verify"))
            arguments << photo << TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        else
            arguments << m_work;
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(QStringLiteral("：不是可执行文件")), run.err.constData());
        QCOMPARE(TestEnv::entries(m_work), words("Canon_40D.jpg plain-tool"));
    }

    void verifyAndScan()
    {
        const QString jpeg = TestEnv::dataPath(camera("Canon_40D.jpg"));
        const QString jxl = TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        QCOMPARE(cli({QStringLiteral("verify"), jpeg, jxl}).exitCode, 0);
        const Run mismatch = cli({QStringLiteral("verify"), jpeg, TestEnv::dataPath(QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl"))});
        QCOMPARE(mismatch.exitCode, 1);
        QVERIFY(QString::fromUtf8(mismatch.err).startsWith(QStringLiteral("无损校验未通过")));
        // Given the wrong way round, twice the same kind or a missing file: a usage error.
        for (const QStringList &wrong : {QStringList{jxl, jpeg}, QStringList{jpeg, jpeg}, QStringList{m_work + QStringLiteral("/none.jpg"), jxl}})
            QCOMPARE(cli(QStringList{QStringLiteral("verify")} + wrong).exitCode, 2);

        const Run scan = cli(words("scan --json") << TestEnv::dataPath(QStringLiteral("jxl")) << TestEnv::dataPath(QStringLiteral("jpeg/cameras")));
        QCOMPARE(scan.exitCode, 0);
        const QJsonObject counts = QJsonDocument::fromJson(scan.out).object();
        QCOMPARE(counts.value(QStringLiteral("jpegFiles")).toInt(), 19);
        QCOMPARE(counts.value(QStringLiteral("jxlFiles")).toInt(), 5);
        QCOMPARE(counts.value(QStringLiteral("estimatedSavedBytes")).toInteger(), counts.value(QStringLiteral("jpegBytes")).toInteger() / 4);
    }

    void argumentsThatAreNotUtf8AreRefused()
    {
        // QProcess can only pass text; the shell passes the raw byte.
        TestEnv::copyData(camera("Canon_40D.jpg"), m_work, QStringLiteral("\uFFFD.jpg"));
        QProcess process;
        process.setWorkingDirectory(m_work);
        process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec \"$0\" compress \"$(printf '\\377.jpg')\""),
                                                  QStringLiteral(PIKORA_CLI_PATH)});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("\uFFFD.jpg")});
    }

    void originalsThatStayAreWarnedAbout()
    {
        // The fault shim makes deleting one original fail as an immutable file would.
        twoPhotos();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(PIKORA_FAULT_SHIM_PATH));
        environment.insert(QStringLiteral("PIKORA_FAULTS"), QStringLiteral("deny=Canon_40D.jpg"));

        const Run run = cli(words("compress -o delete") << m_work, environment);
        QCOMPARE(run.exitCode, 1);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(QStringLiteral("\n        警告：")) && out.contains(QStringLiteral("2 个完成，0 个失败，1 个原文件未能移除")),
                 qPrintable(out));
        QVERIFY(QFile::exists(m_work + QStringLiteral("/Canon_40D.jpg")));
        QVERIFY(!QFile::exists(m_work + QStringLiteral("/Nikon_D70.jpg")));

        // The JSON carries it per job; the converted copy of the kept original is already there.
        TestEnv::copyData(camera("Nikon_D70.jpg"), m_work, QStringLiteral("second.jpg"));
        environment.insert(QStringLiteral("PIKORA_FAULTS"), QStringLiteral("deny=second.jpg"));
        const Run json = cli(words("compress --json -o delete") << m_work + QStringLiteral("/second.jpg"), environment);
        QCOMPARE(json.exitCode, 1);
        const QList<QJsonObject> jobs = json.jobs();
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs.first().value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QVERIFY(!jobs.first().value(QStringLiteral("warning")).toString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
