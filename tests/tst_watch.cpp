#include "app/folderwatch.h"
#include "app/settingsstore.h"
#include "fakeencoder.h"
#include "scratchvolume.h"
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
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 60000;

// pikora-cli watch running in the background, its JSON lines and messages gathered as they come.
class Watcher
{
public:
    explicit Watcher(const QStringList &arguments)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { m_out += m_process.readAllStandardOutput(); });
        QObject::connect(&m_process, &QProcess::readyReadStandardError, [this] { m_err += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(PIKORA_CLI_PATH), QStringList{u"watch"_s, u"--json"_s, u"-j"_s, u"1"_s, u"--settle"_s, u"0.2"_s} + arguments);
    }
    ~Watcher() { m_process.kill(), m_process.waitForFinished(); } // after a failed check: it must not outlive the suite

    // "status source" for each job, in the order they were reported.
    QStringList jobs() const
    {
        QStringList list;
        for (const QByteArray &line : m_out.split('\n'))
            if (const QJsonObject job = QJsonDocument::fromJson(line).object(); !line.isEmpty())
                list << job[u"status"_s].toString() + u' ' + job[u"source"_s].toString();
        return list;
    }
    template<typename Condition>
    bool waitUntil(Condition condition)
    {
        return QTest::qWaitFor([&] { return condition() || m_process.state() == QProcess::NotRunning; }, kWaitMs) && condition();
    }
    bool waitForJobs(qsizetype count = 1) { return waitUntil([&] { return jobs().size() >= count; }); }
    bool waitForMessage(const QString &text = u"正在监视 1 个文件夹"_s) { return waitUntil([&] { return m_err.contains(text); }); }
    // SIGTERM, as a service manager stops it; the exit status, which is 130 (stopped, no failure).
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
    QProcess m_process;
    QByteArray m_out;
    QString m_err;
};

bool realTools() { return !TestEnv::installedTool(u"cjxl"_s).isEmpty() && !TestEnv::installedTool(u"djxl"_s).isEmpty(); }

} // namespace

// pikora-cli watch and the FolderWatch beneath it: when a photo is complete, which files are
// passed over, folders that come and go, the watch limit, and stopping mid-conversion.
class TestWatch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_case = 0;
    QString m_work, m_tools; // the watched folder; fake tools, outside it
    const QByteArray m_jpeg = TestEnv::fakeJpeg(400);
    const QString m_camera = TestEnv::dataPath(u"jpeg/cameras/Canon_40D.jpg"_s);

    QStringList fakeTools() const { return {u"--cjxl"_s, m_tools + u"/cjxl"_s, u"-o"_s, u"keep"_s, m_work}; }
    QString path(const QString &name) const { return m_work + u'/' + name; }
    QString put(const QString &name) const { return TestEnv::writeAll(path(name), m_jpeg), path(name); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        TestEnv::isolateTemporaries(m_root.filePath(u"tmp"_s));
    }

    void init()
    {
        m_work = m_root.filePath(u"case%1/photos"_s.arg(++m_case));
        m_tools = m_root.filePath(u"case%1/tools"_s.arg(m_case));
        QDir().mkpath(m_work);
        FakeEncoder::write(m_tools, TestEnv::writeFakeJxlCommand());
    }

    // Each way a photo arrives gives one job on its final name, and nothing for hidden files or
    // temporaries, written first so that they would be taken first.
    void arrivalsMakeOneJobEach()
    {
        Watcher watcher(fakeTools());
        QVERIFY(watcher.waitForMessage());
        for (const QString &name : {u".hidden.jpg"_s, u"copy.jpg~"_s, u"photo.jpg.crdownload"_s, u"photo.tmp"_s})
            put(name);
        QStringList wanted{put(u"2024/june/a.jpg"_s), put(u"2024/june/b.jpg"_s)}; // in a new sub-folder
        // Written elsewhere, or under a name of its own as browsers and rsync do, then given its
        // name: moved, renamed, or linked, which brings no close, as a copy by Qt (O_TMPFILE) does not.
        for (const QString &how : {u"moved"_s, u"renamed"_s, u"linked"_s}) {
            const QString first = how == u"renamed"_s ? path(how + u".jpg.part"_s) : m_tools + u'/' + how;
            TestEnv::writeAll(first, m_jpeg);
            const QByteArray from = QFile::encodeName(first), to = QFile::encodeName(wanted.emplaceBack(path(how + u".jpg"_s)));
            QCOMPARE(how == u"linked"_s ? ::link(from.constData(), to.constData()) : std::rename(from.constData(), to.constData()), 0);
        }
        QVERIFY2(watcher.waitForJobs(wanted.size()), qPrintable(watcher.messages()));
        QCOMPARE(watcher.terminate(), 130);
        QStringList jobs = watcher.jobs().replaceInStrings(u"completed "_s, QString()); // any other status stays
        jobs.sort(), wanted.sort();
        QCOMPARE(jobs, wanted);
    }

    // A photo copied in slowly is taken once, whole: its JXL restores every byte.
    void slowCopyIsTakenWhole()
    {
        if (!realTools())
            QSKIP("cjxl/djxl are not installed");
        const QByteArray photo = TestEnv::readAll(m_camera);
        Watcher watcher({u"-o"_s, u"keep"_s, m_work});
        QVERIFY(watcher.waitForMessage());
        QFile file(path(u"slow.jpg"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        const qsizetype piece = photo.size() / 4 + 1;
        for (qsizetype at = 0; at < photo.size(); at += piece) {
            QVERIFY(file.write(photo.mid(at, piece)) > 0 && file.flush());
            // The copy must stay open, unfinished, for longer than the settle time: only a wait of that length shows that an open file is not taken.
            QTest::qWait(400);
        }
        file.close();
        QVERIFY(watcher.waitForJobs());
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.jobs(), QStringList{u"completed "_s + file.fileName()});
        const QString restored = m_root.filePath(u"restored.jpg"_s);
        QCOMPARE(QProcess::execute(TestEnv::installedTool(u"djxl"_s), {path(u"slow.jxl"_s), restored}), 0);
        QCOMPARE(TestEnv::readAll(restored), photo);
    }

    // --saved, as the login entry and the user unit run it: the window's folders and originals
    // choice, here delete, which the command line did not give; a saved folder not there yet
    // (a disk mounted later) is waited for.
    void savedFoldersTakeTheirOriginalsChoice()
    {
        if (!realTools())
            QSKIP("cjxl/djxl are not installed");
        const QString later = m_work + u"-later"_s;
        {
            SettingsStore store(HardwareInfo::fromFacts(u"Test CPU"_s, 2, std::nullopt, std::nullopt));
            AppSettings settings = store.settings();
            settings.autoConvertFolders = {m_work, later}, settings.autoConvertOriginals = DeleteStrategy::deleteImmediately;
            store.setSettings(settings);
        }
        // This suite's preferences live in Qt's test folder; the program reads the user's.
        const QString stored = u"/pikora/pikora.ini"_s, read = qEnvironmentVariable("XDG_CONFIG_HOME") + stored;
        QDir().mkpath(QFileInfo(read).path());
        QFile::remove(read);
        QVERIFY(QFile::copy(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + stored, read));
        Watcher watcher({u"--saved"_s});
        QVERIFY2(watcher.waitForMessage(), qPrintable(watcher.messages()));
        QVERIFY(watcher.messages().contains(later));
        QVERIFY(QFile::copy(m_camera, path(u"a.jpg"_s)));
        QVERIFY(watcher.waitForJobs());
        QVERIFY(QDir().mkdir(later) && QFile::copy(m_camera, later + u"/b.jpg"_s));
        QVERIFY2(watcher.waitForJobs(2), qPrintable(watcher.messages()));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.jobs(), QStringList({u"completed "_s + path(u"a.jpg"_s), u"completed "_s + later + u"/b.jpg"_s}));
        QCOMPARE(TestEnv::entries(m_work) + TestEnv::entries(later), QStringList({u"a.jxl"_s, u"b.jxl"_s}));
        TestEnv::forgetPreferences();
        QFile::remove(read);
    }

    // A photo written to again within the settle time waits again, and is taken whole.
    void rewrittenPhotoWaitsAgain()
    {
        FolderWatch watch({m_work}, {.settleMs = 1000});
        QSignalSpy ready(&watch, &FolderWatch::ready);
        watch.start();
        QFile file(put(u"growing.jpg"_s)); // closed: its wait begins
        QVERIFY(file.open(QIODevice::Append));
        for (int i = 0; i < 8; ++i) {
            // Appended to well within the settle time, over more than one settle time: only
            // waits of that length show that each write starts the wait over.
            QTest::qWait(250);
            QVERIFY(file.write(m_jpeg) == m_jpeg.size() && file.flush());
        }
        file.close();
        QVERIFY(ready.wait(kWaitMs));
        QCOMPARE(ready.size(), 1);
        QCOMPARE(ready.first().at(2).value<FileIdentity>().size, 9 * m_jpeg.size());
    }

    // A photo that fails is not tried again while it stays as it was; once changed, it is. A
    // watched folder that is removed is reported once and taken up again when it is back.
    void failedPhotoAndRemovedFolder()
    {
        Watcher watcher(fakeTools());
        QVERIFY(watcher.waitForMessage());
        const QString bad = path(u"bad.jpg"_s);
        TestEnv::writeAll(bad, TestEnv::notJpegFiles().first().bytes); // a PNG under a JPEG's name
        QVERIFY(watcher.waitForJobs());
        QVERIFY(QFile(bad).open(QIODevice::Append)); // closed unchanged at once: the kernel reports a write
        const QString good = put(u"good.jpg"_s);
        QVERIFY(watcher.waitForJobs(2));
        put(u"bad.jpg"_s); // mended
        QVERIFY(watcher.waitForJobs(3));
        QVERIFY(QDir(m_work).removeRecursively());
        QVERIFY(watcher.waitForMessage(u"不可用"_s));
        QVERIFY(QDir().mkpath(m_work));
        const QString back = put(u"back.jpg"_s); // at once: the watch taken up again or the scan after it must find it
        QVERIFY2(watcher.waitForJobs(4), qPrintable(watcher.messages()));
        const QString later = put(u"later.jpg"_s);
        QVERIFY(watcher.waitForJobs(5));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.jobs(), (QStringList{u"failed "_s + bad, u"completed "_s + good, u"completed "_s + bad,
                                              u"completed "_s + back, u"completed "_s + later}));
        QCOMPARE(watcher.messages().count(u"不可用"_s), 1);
    }

    // A disk mounted on the watched folder, or on a folder below it, after the start, taken away
    // and mounted again: each time what the folder shows is watched at once, not when the rescan
    // timer next looks.
    void diskMountedOnTheFolder_data()
    {
        QTest::addColumn<QString>("mountPoint"); // below the watched folder
        QTest::newRow("the watched folder") << QString();
        QTest::newRow("a folder below it") << u"/card"_s;
    }
    void diskMountedOnTheFolder()
    {
        QFETCH(const QString, mountPoint);
        ScratchVolume card(m_work + mountPoint, 1024 * 1024);
        if (!card.isMounted())
            QSKIP("mounting a tmpfs needs root");
        card.unmount();
        Watcher watcher(fakeTools());
        QVERIFY(watcher.waitForMessage(u"正在监视"_s));
        const QString on = mountPoint.isEmpty() ? QString() : mountPoint.mid(1) + u'/';
        QVERIFY(card.mount());
        const QString first = put(on + u"first.jpg"_s);
        QVERIFY2(watcher.waitForJobs(), qPrintable(watcher.messages()));
        card.unmount();
        if (mountPoint.isEmpty())
            QVERIFY(watcher.waitForMessage(u"不可用"_s));
        QVERIFY(card.mount());
        const QString second = put(on + u"second.jpg"_s);
        QVERIFY2(watcher.waitForJobs(2), qPrintable(watcher.messages()));
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(watcher.jobs(), (QStringList{u"completed "_s + first, u"completed "_s + second}));
    }

    // Past the watch limit, folders are looked at on a timer instead, and that is said once.
    void watchLimitFallsBackToRescans()
    {
        QVERIFY(QDir().mkpath(path(u"a"_s)) && QDir().mkpath(path(u"b"_s)));
        FolderWatch watch({m_work}, {.settleMs = 50, .rescanMs = 100, .maxWatches = 1});
        QSignalSpy limit(&watch, &FolderWatch::watchLimitReached);
        QSignalSpy ready(&watch, &FolderWatch::ready);
        watch.start();
        QCOMPARE(watch.folderCount(), 3);
        QVERIFY(limit.size() == 1 && limit.first().first().value<qsizetype>() == 2);
        QStringList readyPaths, wanted;
        for (const QString &name : {u"a/one.jpg"_s, u"b/two.jpg"_s, u"three.jpg"_s}) {
            wanted << put(name);
            QTRY_VERIFY_WITH_TIMEOUT(std::any_of(ready.cbegin(), ready.cend(), [&](const QVariantList &r) { return r.first() == wanted.last(); }), kWaitMs);
        }
        // Several looks later each photo has been handed over once.
        for (const QVariantList &arguments : std::as_const(ready))
            readyPaths << arguments.first().toString();
        QCOMPARE(readyPaths, wanted);
        QCOMPARE(limit.size(), 1);
    }

    // SIGTERM in the middle of a conversion stops the tool and leaves the photo as it was:
    // no temporary, no output, the original kept although it was to be deleted.
    void sigtermLeavesTheJobAsItWas()
    {
        FakeEncoder::write(m_tools, "exec sleep 1000");
        const QString djxl = TestEnv::writeScript(m_tools + u"/djxl"_s, "exit 1"); // nothing can be verified, so nothing deleted
        Watcher watcher({u"--cjxl"_s, m_tools + u"/cjxl"_s, u"--djxl"_s, djxl, u"-o"_s, u"delete"_s, m_work});
        QVERIFY(watcher.waitForMessage());
        put(u"photo.jpg"_s);
        QTRY_COMPARE_WITH_TIMEOUT(FakeEncoder::log(m_tools).size(), 1, kWaitMs);
        QCOMPARE(watcher.terminate(), 130);
        QCOMPARE(TestEnv::entries(m_work), QStringList{u"photo.jpg"_s});
        QCOMPARE(TestEnv::readAll(path(u"photo.jpg"_s)), m_jpeg);
        QVERIFY(watcher.messages().contains(u"已中断"_s));
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
