#include "app/folderwatch.h"
#include "app/settingsstore.h"
#include "fakeencoder.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <csignal>

namespace {

constexpr int kWaitMs = 60000;
const QString kSettle = QStringLiteral("0.2");

// pikora-cli watch running in the background, its JSON lines and messages gathered as they come.
class Watcher
{
public:
    explicit Watcher(const QStringList &arguments)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
            m_out += m_process.readAllStandardOutput();
        });
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] {
            m_err += QString::fromUtf8(m_process.readAllStandardError());
        });
        m_process.start(QStringLiteral(PIKORA_CLI_PATH),
                        QStringList{QStringLiteral("watch"), QStringLiteral("--json"), QStringLiteral("-j"),
                                    QStringLiteral("1"), QStringLiteral("--settle"), kSettle}
                            + arguments);
    }
    ~Watcher()
    {
        if (m_process.state() != QProcess::NotRunning) { // a failed check: the program must not outlive the suite
            m_process.kill();
            m_process.waitForFinished();
        }
    }

    QList<QJsonObject> jobs() const
    {
        QList<QJsonObject> list;
        for (const QByteArray &line : m_out.split('\n')) {
            if (!line.isEmpty())
                list.append(QJsonDocument::fromJson(line).object());
        }
        return list;
    }
    // How the jobs on source ended, in the order they were reported.
    QStringList statusesOf(const QString &source) const
    {
        QStringList statuses;
        for (const QJsonObject &job : jobs()) {
            if (job.value(QStringLiteral("source")).toString() == source)
                statuses.append(job.value(QStringLiteral("status")).toString());
        }
        return statuses;
    }
    bool waitForJobs(const QString &source, qsizetype count = 1)
    {
        return waitUntil([&] { return statusesOf(source).size() >= count; });
    }
    bool waitForMessage(const QString &text)
    {
        return waitUntil([&] { return m_err.contains(text); });
    }
    // SIGTERM, as a service manager stops it; the exit status.
    int terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        if (!m_process.waitForFinished(kWaitMs))
            return -1;
        m_out += m_process.readAllStandardOutput();
        m_err += QString::fromUtf8(m_process.readAllStandardError());
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    const QString &messages() const { return m_err; }

private:
    template<typename Condition>
    bool waitUntil(Condition condition)
    {
        return QTest::qWaitFor([&] { return condition() || m_process.state() == QProcess::NotRunning; }, kWaitMs)
            && condition();
    }

    QProcess m_process;
    QByteArray m_out;
    QString m_err;
};

} // namespace

// pikora-cli watch and the FolderWatch beneath it: when a photo is complete, which files are
// passed over, folders that come and go, the watch limit, and stopping mid-conversion.
class TestWatch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_case = 0;
    QString m_work;   // the watched folder
    QString m_tools;  // fake tools, outside it
    QByteArray m_jpeg = TestEnv::fakeJpeg(400);

    QStringList fakeTools() const
    {
        return {QStringLiteral("--cjxl"), m_tools + QStringLiteral("/cjxl"), QStringLiteral("-o"), QStringLiteral("keep")};
    }
    QString path(const QString &name) const { return m_work + u'/' + name; }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        TestEnv::isolateTemporaries(m_root.filePath(QStringLiteral("tmp")));
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1/photos").arg(++m_case));
        m_tools = m_root.filePath(QStringLiteral("case%1/tools").arg(m_case));
        QDir().mkpath(m_work);
        FakeEncoder::write(m_tools, TestEnv::writeFakeJxlCommand());
    }

    // Each way a photo arrives gives one job on its final name, and nothing for hidden files or
    // temporaries; a photo written last shows that everything before it has been seen.
    void arrivalsMakeOneJobEach_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("moved in") << "moved" << QStringList{QStringLiteral("moved.jpg")};
        QTest::newRow("temporary name, renamed") << "renamed" << QStringList{QStringLiteral("final.jpg")};
        QTest::newRow("written elsewhere, linked in") << "linked" << QStringList{QStringLiteral("linked.jpg")};
        QTest::newRow("new sub-folder") << "folder" << QStringList{QStringLiteral("2024/june/a.jpg"), QStringLiteral("2024/june/b.jpg")};
        QTest::newRow("hidden and temporary") << "hidden" << QStringList();
    }

    void arrivalsMakeOneJobEach()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, expected);
        Watcher watcher(fakeTools() << m_work);
        QVERIFY(watcher.waitForMessage(QStringLiteral("正在监视 1 个文件夹")));
        if (how == QLatin1String("moved")) {
            TestEnv::writeAll(m_tools + QStringLiteral("/moved.jpg"), m_jpeg);
            QVERIFY(QFile::rename(m_tools + QStringLiteral("/moved.jpg"), path(QStringLiteral("moved.jpg"))));
        } else if (how == QLatin1String("renamed")) {
            // Written under a name of its own and renamed when done, as browsers and rsync do.
            TestEnv::writeAll(path(QStringLiteral("final.jpg.part")), m_jpeg);
            QVERIFY(QFile::rename(path(QStringLiteral("final.jpg.part")), path(QStringLiteral("final.jpg"))));
        } else if (how == QLatin1String("linked")) {
            // A new name for a finished file brings no close, as a copy by Qt (O_TMPFILE) does not.
            TestEnv::writeAll(m_tools + QStringLiteral("/linked.jpg"), m_jpeg);
            QCOMPARE(::link(QFile::encodeName(m_tools + QStringLiteral("/linked.jpg")).constData(),
                            QFile::encodeName(path(QStringLiteral("linked.jpg"))).constData()), 0);
        } else if (how == QLatin1String("folder")) {
            for (const QString &name : expected)
                TestEnv::writeAll(path(name), m_jpeg);
        } else {
            for (const char *name : {".hidden.jpg", "copy.jpg~", "photo.jpg.crdownload", "photo.tmp"})
                TestEnv::writeAll(path(QLatin1String(name)), m_jpeg);
        }
        TestEnv::writeAll(path(QStringLiteral("last.jpg")), m_jpeg);
        for (const QString &name : expected)
            QVERIFY2(watcher.waitForJobs(path(name)), qPrintable(watcher.messages()));
        QVERIFY(watcher.waitForJobs(path(QStringLiteral("last.jpg"))));
        QCOMPARE(watcher.terminate(), 130);
        QStringList sources;
        for (const QJsonObject &job : watcher.jobs()) {
            QCOMPARE(job.value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
            sources.append(job.value(QStringLiteral("source")).toString());
        }
        QStringList wanted{path(QStringLiteral("last.jpg"))};
        for (const QString &name : expected)
            wanted.append(path(name));
        sources.sort();
        wanted.sort();
        QCOMPARE(sources, wanted);
    }

    // A photo copied in slowly is taken once, whole: its JXL restores every byte.
    void slowCopyIsTakenWhole()
    {
        const QString djxl = TestEnv::installedTool(QStringLiteral("djxl"));
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty() || djxl.isEmpty())
            QSKIP("cjxl/djxl are not installed");
        const QByteArray photo = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")));
        Watcher watcher({QStringLiteral("-o"), QStringLiteral("keep"), m_work});
        QVERIFY(watcher.waitForMessage(QStringLiteral("正在监视")));
        QFile file(path(QStringLiteral("slow.jpg")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qsizetype piece = photo.size() / 4 + 1;
        for (qsizetype at = 0; at < photo.size(); at += piece) {
            QCOMPARE(file.write(photo.mid(at, piece)), std::min(piece, photo.size() - at));
            QVERIFY(file.flush());
            // The copy must stay open, unfinished, for longer than the settle time: only a
            // wait of that length shows that an open file is not taken.
            QTest::qWait(400);
        }
        file.close();
        QVERIFY(watcher.waitForJobs(path(QStringLiteral("slow.jpg"))));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.statusesOf(path(QStringLiteral("slow.jpg"))), QStringList{QStringLiteral("completed")});
        const QString restored = m_root.filePath(QStringLiteral("restored.jpg"));
        QCOMPARE(QProcess::execute(djxl, {path(QStringLiteral("slow.jxl")), restored}), 0);
        QCOMPARE(TestEnv::readAll(restored), photo);
    }

    // --saved, as the login entry and the user unit run it: the window's folders and originals
    // choice, here delete, which the command line did not give.
    void savedFoldersTakeTheirOriginalsChoice()
    {
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty() || TestEnv::installedTool(QStringLiteral("djxl")).isEmpty())
            QSKIP("cjxl/djxl are not installed");
        {
            SettingsStore store(HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 2, std::nullopt, std::nullopt));
            AppSettings settings = store.settings();
            settings.autoConvertFolders = {m_work};
            settings.autoConvertOriginals = DeleteStrategy::deleteImmediately;
            store.setSettings(settings);
        }
        // This suite's preferences live in Qt's test folder; the program reads the user's.
        const QString stored = QStringLiteral("/pikora/pikora.ini");
        const QString read = qEnvironmentVariable("XDG_CONFIG_HOME") + stored;
        QDir().mkpath(QFileInfo(read).path());
        QFile::remove(read);
        QVERIFY(QFile::copy(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + stored, read));
        Watcher watcher({QStringLiteral("--saved")});
        QVERIFY2(watcher.waitForMessage(QStringLiteral("正在监视 1 个文件夹")), qPrintable(watcher.messages()));
        QVERIFY(QFile::copy(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")), path(QStringLiteral("a.jpg"))));
        QVERIFY(watcher.waitForJobs(path(QStringLiteral("a.jpg"))));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.statusesOf(path(QStringLiteral("a.jpg"))), QStringList{QStringLiteral("completed")});
        QVERIFY(!QFile::exists(path(QStringLiteral("a.jpg"))));
        QVERIFY(QFile::exists(path(QStringLiteral("a.jxl"))));
        TestEnv::forgetPreferences();
        QFile::remove(read);
    }

    // A photo written to again within the settle time waits again, and is taken whole.
    void rewrittenPhotoWaitsAgain()
    {
        FolderWatch::Options options;
        options.settleMs = 1000;
        FolderWatch watch({m_work}, options);
        QSignalSpy ready(&watch, &FolderWatch::ready);
        watch.start();
        TestEnv::writeAll(path(QStringLiteral("growing.jpg")), m_jpeg); // closed: its wait begins
        QFile file(path(QStringLiteral("growing.jpg")));
        QVERIFY(file.open(QIODevice::Append));
        for (int i = 0; i < 8; ++i) {
            // Appended to well within the settle time, over more than one settle time: only
            // waits of that length show that each write starts the wait over.
            QTest::qWait(250);
            QCOMPARE(file.write(m_jpeg), m_jpeg.size());
            QVERIFY(file.flush());
        }
        file.close();
        QVERIFY(ready.wait(kWaitMs));
        QCOMPARE(ready.size(), 1);
        QCOMPARE(ready.first().at(2).value<FileIdentity>().size, 9 * m_jpeg.size());
    }

    // A photo that fails is not tried again while it stays as it was; once changed, it is.
    void failedPhotoWaitsUntilChanged()
    {
        Watcher watcher(fakeTools() << m_work);
        QVERIFY(watcher.waitForMessage(QStringLiteral("正在监视")));
        const QString bad = path(QStringLiteral("bad.jpg"));
        TestEnv::writeAll(bad, TestEnv::notJpegFiles().first().bytes); // a PNG under a JPEG's name
        QVERIFY(watcher.waitForJobs(bad));
        QFile again(bad); // opened for writing and closed unchanged: the kernel reports a write
        QVERIFY(again.open(QIODevice::Append));
        again.close();
        TestEnv::writeAll(path(QStringLiteral("good.jpg")), m_jpeg);
        QVERIFY(watcher.waitForJobs(path(QStringLiteral("good.jpg"))));
        QCOMPARE(watcher.statusesOf(bad), QStringList{QStringLiteral("failed")});
        TestEnv::writeAll(bad, m_jpeg); // mended
        QVERIFY(watcher.waitForJobs(bad, 2));
        QCOMPARE(watcher.statusesOf(bad), (QStringList{QStringLiteral("failed"), QStringLiteral("completed")}));
        QCOMPARE(watcher.terminate(), 130);
    }

    // A watched folder that is removed is reported once and taken up again when it is back.
    void removedFolderIsWatchedAgainWhenBack()
    {
        Watcher watcher(fakeTools() << m_work);
        QVERIFY(watcher.waitForMessage(QStringLiteral("正在监视")));
        QVERIFY(QDir(m_work).removeRecursively());
        QVERIFY(watcher.waitForMessage(QStringLiteral("不可用")));
        QVERIFY(QDir().mkpath(m_work));
        // Written at once: the watch taken up again or the scan after it must find it.
        TestEnv::writeAll(path(QStringLiteral("back.jpg")), m_jpeg);
        QVERIFY2(watcher.waitForJobs(path(QStringLiteral("back.jpg"))), qPrintable(watcher.messages()));
        QCOMPARE(watcher.statusesOf(path(QStringLiteral("back.jpg"))), QStringList{QStringLiteral("completed")});
        TestEnv::writeAll(path(QStringLiteral("later.jpg")), m_jpeg);
        QVERIFY(watcher.waitForJobs(path(QStringLiteral("later.jpg"))));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.messages().count(QStringLiteral("不可用")), 1);
    }

    // Past the watch limit, folders are looked at on a timer instead, and that is said once.
    void watchLimitFallsBackToRescans()
    {
        for (const char *folder : {"a", "b"})
            QVERIFY(QDir().mkpath(path(QLatin1String(folder))));
        FolderWatch::Options options;
        options.settleMs = 50;
        options.rescanMs = 100;
        options.maxWatches = 1;
        FolderWatch watch({m_work}, options);
        QSignalSpy limit(&watch, &FolderWatch::watchLimitReached);
        QSignalSpy ready(&watch, &FolderWatch::ready);
        watch.start();
        QCOMPARE(watch.folderCount(), 3);
        QCOMPARE(limit.size(), 1);
        QCOMPARE(limit.first().first().value<qsizetype>(), 2);
        const auto readyPaths = [&] {
            QStringList paths;
            for (const QList<QVariant> &arguments : std::as_const(ready))
                paths.append(arguments.first().toString());
            return paths;
        };
        for (const QString &name : {QStringLiteral("a/one.jpg"), QStringLiteral("b/two.jpg"), QStringLiteral("three.jpg")}) {
            TestEnv::writeAll(path(name), m_jpeg);
            QTRY_VERIFY_WITH_TIMEOUT(readyPaths().contains(path(name)), kWaitMs);
        }
        // Several looks later each photo has been handed over once.
        QCOMPARE(readyPaths(), (QStringList{path(QStringLiteral("a/one.jpg")), path(QStringLiteral("b/two.jpg")),
                                            path(QStringLiteral("three.jpg"))}));
        QCOMPARE(limit.size(), 1);
    }

    // SIGTERM in the middle of a conversion stops the tool and leaves the photo as it was:
    // no temporary, no output, the original kept although it was to be deleted.
    void sigtermLeavesTheJobAsItWas()
    {
        FakeEncoder::write(m_tools, "exec sleep 1000");
        const QString fakeDjxl = TestEnv::writeScript(m_tools + QStringLiteral("/djxl"), "exit 1");
        Watcher watcher({QStringLiteral("--cjxl"), m_tools + QStringLiteral("/cjxl"), QStringLiteral("--djxl"), fakeDjxl,
                         QStringLiteral("-o"), QStringLiteral("delete"), m_work});
        QVERIFY(watcher.waitForMessage(QStringLiteral("正在监视")));
        TestEnv::writeAll(path(QStringLiteral("photo.jpg")), m_jpeg);
        QTRY_COMPARE_WITH_TIMEOUT(FakeEncoder::log(m_tools).size(), 1, kWaitMs);
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("photo.jpg")});
        QCOMPARE(TestEnv::readAll(path(QStringLiteral("photo.jpg"))), m_jpeg);
        QVERIFY(watcher.messages().contains(QStringLiteral("已中断")));
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
