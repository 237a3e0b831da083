#include "app/settingsstore.h"
#include "platform/preferences.h"
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

using namespace Qt::StringLiterals;

namespace {

// A command line written as one text; its words are separated by single blanks.
QStringList words(const char *line) { return QString::fromUtf8(line).split(u' ', Qt::SkipEmptyParts); }

QString camera(const char *name) { return u"jpeg/cameras/"_s + QLatin1String(name); }

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
        TestEnv::isolateHome(m_root.filePath(u"user"_s));
        if (TestEnv::installedTool(u"cjxl"_s).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(u"case%1"_s.arg(++m_case));
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
        QVERIFY2(QString::fromUtf8(run.err).contains(u"用法：pikora-cli"_s), run.err.constData());
    }

    void compressReportsEveryJobAndKeepsRunOptionsOutOfTheSettings()
    {
        twoPhotos();
        TestEnv::copyData(u"jpeg/unsupported/cmyk.jpg"_s, m_work + u"/sub"_s);
        const QByteArray cmyk = TestEnv::readAll(m_work + u"/sub/cmyk.jpg"_s);

        const Run run = cli(words("compress --json -j 2 -e 2 -o delete") << m_work);
        QCOMPARE(run.exitCode, 1); // one photo was refused
        const QList<QJsonObject> jobs = run.jobs();
        QCOMPARE(jobs.size(), 3);
        QStringList seen;
        for (const QJsonObject &job : jobs) {
            seen.append(job.value(u"status"_s).toString());
            // A completed job's original went after its verified output was there; a failed one says why.
            QVERIFY(seen.last() == u"completed"_s ? job.value(u"verified"_s).toBool() && QFile::exists(job.value(u"output"_s).toString())
                                                        && !QFile::exists(job.value(u"source"_s).toString())
                                                  : !job.value(u"error"_s).toString().isEmpty() && job.value(u"output"_s).isNull());
        }
        seen.sort();
        QCOMPARE(seen, words("completed completed failed"));
        QCOMPARE(TestEnv::readAll(m_work + u"/sub/cmyk.jpg"_s), cmyk);

        // The run's -j, -e and -o were not stored as settings. (The counters: tst_archive.)
        QVERIFY(!TestEnv::readAll(QDir::homePath() + u"/.config/pikora/pikora.ini"_s).contains("appsettings"));
    }

    // The window's output folder serves a run without --output-dir (the option wins); one that has
    // gone (its disk not mounted) stops the run with exit status 2 and nothing made.
    void storedOutputFolderServesRunsWithoutTheOption()
    {
        const QString root = m_work + u"/2019"_s;
        TestEnv::copyData(camera("Canon_40D.jpg"), root);
        const auto store = [](const QString &folder) {
            Preferences preferences;
            preferences.setData(SettingsStore::outputFolderKey, QFile::encodeName(folder));
            preferences.sync();
        };
        const QString gone = m_work + u"/unmounted/Backup"_s;
        store(gone);
        const Run refused = cli(words("compress -q") << root);
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(gone.toUtf8()), refused.err.constData());
        QVERIFY(!QFileInfo::exists(m_work + u"/unmounted"_s));
        QVERIFY(!QFileInfo::exists(root + u"/Canon_40D.jxl"_s));

        const QString backup = m_work + u"/Backup"_s;
        QVERIFY(QDir().mkpath(backup));
        store(backup);
        QCOMPARE(cli(words("compress -q") << root).exitCode, 0);
        QVERIFY(QFileInfo(backup + u"/2019/Canon_40D.jxl"_s).size() > 0);
        QCOMPARE(cli(words("compress -q --output-dir") << m_work + u"/given"_s << root).exitCode, 0);
        QVERIFY(QFileInfo(m_work + u"/given/2019/Canon_40D.jxl"_s).size() > 0);
        TestEnv::forgetPreferences(); // the folder, and the volume the run remembered with it
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
        const Run help = cli({command, u"--help"_s});
        QVERIFY2(help.exitCode == 0 && help.out.startsWith(QByteArray("用法：pikora-cli " + command.toUtf8() + ' ')) && help.err.isEmpty(), help.out.constData());
        for (const QStringList &asked : {QStringList{u"help"_s, command}, QStringList{command, u"--no-such-option"_s, u"-qh"_s, m_work}})
            QCOMPARE(cli(asked).out, help.out);
        const Run wrong = cli({command, u"--no-such-option"_s});
        QVERIFY2(wrong.exitCode == 2 && wrong.err.endsWith(QByteArray("\n\n" + help.out)), wrong.err.constData());
    }

    void interruptBringsJobsBackAndExits130()
    {
        const QString source = twoPhotos();
        const QString marker = m_root.filePath(u"started"_s);
        const QString tool = TestEnv::writeScript(m_root.filePath(u"slow-cjxl"_s), "echo started >> '" + QFile::encodeName(marker)
                                                                                        + "'; head -c 64 /dev/zero > \"$2\"; exec sleep 60");
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

    // (A name that is not UTF-8 fails its own job only: tst_archive, tst_scanner.)
    void unreachablePathsFailTheRunButNotTheOthers()
    {
        TestEnv::copyData(camera("Canon_40D.jpg"), m_work);
        const QString missing = m_work + u"/no/such/path"_s;
        const Run run = cli({u"compress"_s, missing, m_work});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(missing.toUtf8()), run.err.constData());
        QVERIFY2(run.out.contains("1 个完成，0 个失败"), run.out.constData());
        QVERIFY(QFile::exists(m_work + u"/Canon_40D.jxl"_s));

        // Nothing to convert is no failure; nothing found but a missing path still is (JSON lists no job).
        TestEnv::writeAll(m_work + u"/none/notes.txt"_s, "no photos here");
        QCOMPARE(cli(words("compress -q") << m_work + u"/none"_s).exitCode, 0);
        const Run empty = cli(words("restore --json") << missing);
        QVERIFY(empty.exitCode == 1 && empty.out.isEmpty());
        QCOMPARE(cli({u"scan"_s, missing}).exitCode, 1);
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
        const QString plain = m_work + u"/plain-tool"_s; // not executable
        TestEnv::writeAll(plain, "#!/bin/sh\nexit 0\n");
        arguments.replaceInStrings(u"PLAIN"_s, plain);
        const QString photo = TestEnv::copyData(camera("Canon_40D.jpg"), m_work);
        if (arguments.first() == u"verify"_s)
            arguments << photo << TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s);
        else
            arguments << m_work;
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(u"：不是可执行文件"_s), run.err.constData());
        QCOMPARE(TestEnv::entries(m_work), words("Canon_40D.jpg plain-tool"));
    }

    void verifyAndScan()
    {
        const QString jpeg = TestEnv::dataPath(camera("Canon_40D.jpg"));
        const QString jxl = TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s);
        QCOMPARE(cli({u"verify"_s, jpeg, jxl}).exitCode, 0);
        const Run mismatch = cli({u"verify"_s, jpeg, TestEnv::dataPath(u"jxl/from-jpeg-no-reconstruction.jxl"_s)});
        QCOMPARE(mismatch.exitCode, 1);
        QVERIFY(QString::fromUtf8(mismatch.err).startsWith(u"无损校验未通过"_s));
        // Given the wrong way round, twice the same kind or a missing file: a usage error.
        for (const QStringList &wrong : {QStringList{jxl, jpeg}, QStringList{jpeg, jpeg}, QStringList{m_work + u"/none.jpg"_s, jxl}})
            QCOMPARE(cli(QStringList{u"verify"_s} + wrong).exitCode, 2);

        const Run scan = cli(words("scan --json") << TestEnv::dataPath(u"jxl"_s) << TestEnv::dataPath(u"jpeg/cameras"_s));
        QCOMPARE(scan.exitCode, 0);
        const QJsonObject counts = QJsonDocument::fromJson(scan.out).object();
        QCOMPARE(counts.value(u"jpegFiles"_s).toInt(), 19);
        QCOMPARE(counts.value(u"jxlFiles"_s).toInt(), 5);
    }

    void argumentsThatAreNotUtf8AreRefused()
    {
        // QProcess can only pass text; the shell passes the raw byte.
        TestEnv::copyData(camera("Canon_40D.jpg"), m_work, u"\uFFFD.jpg"_s);
        QProcess process;
        process.setWorkingDirectory(m_work);
        process.start(u"/bin/sh"_s, {u"-c"_s, u"exec \"$0\" compress \"$(printf '\\377.jpg')\""_s,
                                                  QStringLiteral(PIKORA_CLI_PATH)});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QCOMPARE(TestEnv::entries(m_work), QStringList{u"\uFFFD.jpg"_s});
    }

    void originalsThatStayAreWarnedAbout()
    {
        // The fault shim makes deleting one original fail as an immutable file would.
        twoPhotos();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"LD_PRELOAD"_s, QStringLiteral(PIKORA_FAULT_SHIM_PATH));
        environment.insert(u"PIKORA_FAULTS"_s, u"deny=Canon_40D.jpg"_s);

        const Run run = cli(words("compress -o delete") << m_work, environment);
        QCOMPARE(run.exitCode, 1);
        const QString out = QString::fromUtf8(run.out);
        QVERIFY2(out.contains(u"\n        警告："_s) && out.contains(u"2 个完成，0 个失败，1 个原文件未能移除"_s), qPrintable(out));
        QVERIFY(QFile::exists(m_work + u"/Canon_40D.jpg"_s));
        QVERIFY(!QFile::exists(m_work + u"/Nikon_D70.jpg"_s));

        // The JSON carries it per job; the converted copy of the kept original is already there.
        TestEnv::copyData(camera("Nikon_D70.jpg"), m_work, u"second.jpg"_s);
        environment.insert(u"PIKORA_FAULTS"_s, u"deny=second.jpg"_s);
        const Run json = cli(words("compress --json -o delete") << m_work + u"/second.jpg"_s, environment);
        QCOMPARE(json.exitCode, 1);
        const QList<QJsonObject> jobs = json.jobs();
        QCOMPARE(jobs.size(), 1);
        QCOMPARE(jobs.first().value(u"status"_s).toString(), u"completed"_s);
        QVERIFY(!jobs.first().value(u"warning"_s).toString().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
