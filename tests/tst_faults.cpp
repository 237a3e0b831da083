#include "engine/filejob.h"
#include "platform/renamenoreplace.h"
#include "engineruns.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <dlfcn.h>
#include <sys/statvfs.h>
#include <unistd.h>

using EngineRuns::taskFor;
using EngineRuns::runJob;

// The file system misbehaving, through a preloaded shim (tests/faultshim): no RENAME_NOREPLACE,
// no hard links, no extended attributes, originals that cannot be removed, and two processes
// racing for one output name.
class TestFaults final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    int m_case = 0;

    static void setFaults(const QByteArray &faults) { qputenv("PIKORA_FAULTS", faults); }

    static TaskItem run(const TaskItem &task, DeleteStrategy strategy) { return runJob(task, EngineRuns::settingsWith(strategy)); }

    QByteArray restored(const QString &jxl)
    {
        return EngineRuns::restored(jxl, m_root.filePath(QStringLiteral("check.jpg")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY2(dlsym(RTLD_DEFAULT, "pikora_fault_shim_loaded"), "the fault shim is not preloaded");
        TestEnv::isolateHome(m_root.filePath(QStringLiteral("user")));
        TestEnv::isolateTemporaries(m_root.filePath(QStringLiteral("tmp")));
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QDir().mkpath(m_work);
        setFaults({});
    }

    void cleanup() { setFaults({}); }

    // Without RENAME_NOREPLACE and hard links the name is reserved first; nothing taken is replaced.
    void renameWithoutNoReplaceOrLinks_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("existing"); // what is at the target already
        QTest::addColumn<int>("result");
        for (const bool folder : {false, true}) {
            const char *kind = folder ? "folder" : "file";
            QTest::addRow("%s, free name", kind) << folder << QString() << 0;
            QTest::addRow("%s onto a file", kind) << folder << QStringLiteral("file") << int(EEXIST);
            // rename() itself would replace an empty folder.
            QTest::addRow("%s onto an empty folder", kind) << folder << QStringLiteral("folder") << int(EEXIST);
            QTest::addRow("%s onto a dangling link", kind) << folder << QStringLiteral("link") << int(EEXIST);
        }
    }

    void renameWithoutNoReplaceOrLinks()
    {
        QFETCH(bool, folder);
        QFETCH(QString, existing);
        QFETCH(int, result);
        const QString from = m_work + QStringLiteral("/from");
        const QString to = m_work + QStringLiteral("/to");
        if (folder)
            QVERIFY(QDir().mkpath(from + QStringLiteral("/inside")));
        else
            TestEnv::writeAll(from, "moving");
        if (existing == QStringLiteral("file"))
            TestEnv::writeAll(to, "taken");
        else if (existing == QStringLiteral("folder"))
            QVERIFY(QDir().mkdir(to));
        else if (existing == QStringLiteral("link"))
            QVERIFY(QFile::link(m_work + QStringLiteral("/nowhere"), to));

        setFaults("no-renameat2,no-link");
        QCOMPARE(renameNoReplace(QFile::encodeName(from), QFile::encodeName(to)), result);
        setFaults({});
        if (result == 0) {
            QVERIFY(!QFileInfo::exists(from));
            QVERIFY(folder ? QFileInfo::exists(to + QStringLiteral("/inside")) : TestEnv::readAll(to) == "moving");
            QCOMPARE(QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                     QStringList{QStringLiteral("to")});
        } else {
            QVERIFY(folder ? QFileInfo(from).isDir() : TestEnv::readAll(from) == "moving");
            QCOMPARE(QFileInfo(to).isSymLink(), existing == QStringLiteral("link"));
            QCOMPARE(QFileInfo(to).isDir(), existing == QStringLiteral("folder"));
            if (existing == QStringLiteral("file"))
                QCOMPARE(TestEnv::readAll(to), QByteArray("taken"));
        }
    }

    // x.jpg and x.jpeg in two pikora-cli processes, both deleting originals, on a file system
    // without RENAME_NOREPLACE or hard links; renames are slowed so that the two placements
    // overlap. Each photo must end in a JXL of its own.
    void twoProcessesRaceForOneName()
    {
        const QString a = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("x.jpg"));
        const QString b = TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work, QStringLiteral("x.jpeg"));
        const QByteArray bytesA = TestEnv::readAll(a);
        const QByteArray bytesB = TestEnv::readAll(b);
        // Both encoders finish together: each waits for the other before exiting.
        const QString barrier = m_root.filePath(QStringLiteral("barrier%1").arg(m_case));
        QVERIFY(QDir().mkpath(barrier));
        const QString cjxl = TestEnv::writeScript(
            m_root.filePath(QStringLiteral("barrier-cjxl%1").arg(m_case)),
            "'" + QFile::encodeName(TestEnv::installedTool(QStringLiteral("cjxl"))) + "' \"$@\" || exit $?\n"
            "touch '" + QFile::encodeName(barrier) + "'/$$\n"
            "n=0; while [ $(ls '" + QFile::encodeName(barrier) + "' | wc -l) -lt 2 ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done");

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PIKORA_FAULTS"), QStringLiteral("no-renameat2,no-link,rename-delay=1500"));
        QList<QProcess *> processes;
        for (const QString &photo : {a, b}) {
            auto *process = new QProcess(this);
            process->setProcessEnvironment(environment);
            process->start(QStringLiteral(PIKORA_CLI_PATH),
                           {QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("delete"), QStringLiteral("-e"),
                            QStringLiteral("3"), QStringLiteral("-j"), QStringLiteral("1"), QStringLiteral("--cjxl"), cjxl, photo});
            processes.append(process);
        }
        for (QProcess *process : processes) {
            QVERIFY(process->waitForFinished(120000));
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
            delete process;
        }
        const QStringList outputs{QStringLiteral("x (1).jxl"), QStringLiteral("x.jxl")};
        QCOMPARE(TestEnv::entries(m_work), outputs);
        QCOMPARE((QSet<QByteArray>{restored(m_work + QStringLiteral("/x.jxl")), restored(m_work + QStringLiteral("/x (1).jxl"))}),
                 (QSet<QByteArray>{bytesA, bytesB}));
    }

    // The conversion succeeded, so the job completes; the original that stayed is its warning.
    void undisposedOriginalBecomesAWarning_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QByteArray>("faults");
        QTest::addColumn<QString>("reason");
        QTest::newRow("delete refused") << int(DeleteStrategy::deleteImmediately) << QByteArray("deny=undisposable")
                                        << QStringLiteral("无法删除“");
        QTest::newRow("trash refused") << int(DeleteStrategy::moveToTrash) << QByteArray("deny=undisposable")
                                       << QStringLiteral("移至回收站：");
        QTest::newRow("trash cannot be made") << int(DeleteStrategy::moveToTrash) << QByteArray()
                                              << QStringLiteral("移至回收站：");
        QTest::newRow("delete refused, no hard links") << int(DeleteStrategy::deleteImmediately)
                                                       << QByteArray("deny=undisposable,no-renameat2,no-link")
                                                       << QStringLiteral("无法删除“");
    }

    void undisposedOriginalBecomesAWarning()
    {
        QFETCH(int, strategy);
        QFETCH(QByteArray, faults);
        QFETCH(QString, reason);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work,
                                                 QStringLiteral("undisposable.jpg"));
        const QByteArray original = TestEnv::readAll(source);
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        if (faults.isEmpty()) {
            // The trash folder's place is taken by a file.
            const QString blocked = m_work + QStringLiteral("/../data-home%1").arg(m_case);
            TestEnv::writeAll(blocked + QStringLiteral("/Trash"), "not a folder");
            qputenv("XDG_DATA_HOME", QFile::encodeName(QDir::cleanPath(blocked)));
        }
        setFaults(faults);
        const TaskItem done = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy(strategy));
        setFaults({});
        qputenv("XDG_DATA_HOME", dataHome);

        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        QVERIFY(done.warning.has_value());
        QVERIFY2(done.warning->contains(reason) && done.warning->contains(QStringLiteral("undisposable.jpg")),
                 qPrintable(*done.warning));
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(restored(m_work + QStringLiteral("/undisposable.jxl")), original);
    }

    // FAT, many FUSE and SMB mounts have no extended attributes: compression still works, and a
    // restore without the stored digest completes unverified and keeps the JXL.
    void withoutExtendedAttributes()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        setFaults("no-xattr");
        const TaskItem compressed = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy::deleteImmediately);
        QCOMPARE(compressed.status, TaskStatus::completed);
        QVERIFY(compressed.isVerified);
        const QString jxl = compressed.destinationURL->toLocalFile();
        const QByteArray jxlBytes = TestEnv::readAll(jxl);

        const TaskItem back = run(taskFor(jxl, ConversionMode::jxlToJPEG), DeleteStrategy::deleteImmediately);
        setFaults({});
        QCOMPARE(back.status, TaskStatus::completed);
        QVERIFY(!back.isVerified);
        QVERIFY(back.warning.has_value());
        QCOMPARE(TestEnv::readAll(jxl), jxlBytes);
        QCOMPARE(TestEnv::readAll(back.destinationURL->toLocalFile()), original);
    }

    // The output folder refuses the new file: the reason names the folder, never our temporary.
    void writeFailuresNameTheFolder_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only") << int(EROFS) << QStringLiteral("无法写入 %1：该文件夹是只读的");
        QTest::newRow("no permission") << int(EACCES) << QStringLiteral("无法写入 %1：没有写入该文件夹的权限");
        QTest::newRow("full") << int(ENOSPC) << QStringLiteral("磁盘空间已满，无法写入 %1");
    }

    void writeFailuresNameTheFolder()
    {
        QFETCH(int, error);
        QFETCH(QString, message);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        setFaults(QByteArray::number(error).prepend("create-errno=") + '@' + QFile::encodeName(m_work));
        const TaskItem done = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy::deleteImmediately);
        setFaults({});
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, message.arg(m_work));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }

    // A real volume that fills up while photos are converted onto it: the jobs that no longer
    // fit say so first, and nothing is lost or left behind.
    void aVolumeThatFillsUp()
    {
        const ScratchVolume scratch(m_work + QStringLiteral("/volume"), 1024 * 1024);
        if (!scratch.isMounted())
            QSKIP("mounting a small volume needs root");
        const QString &volume = scratch.folder();

        // The first photo's output fits, the larger ones after it do not.
        QStringList sources;
        QHash<QString, QByteArray> originals;
        for (const char *name : {"Canon_40D.jpg", "Samsung_Digimax_i50_MP3.jpg", "Konica_Minolta_DiMAGE_Z3.jpg",
                                 "Canon_PowerShot_S40.jpg"}) {
            sources.append(TestEnv::copyData(QStringLiteral("jpeg/cameras/") + QLatin1String(name), volume));
            originals.insert(sources.last(), TestEnv::readAll(sources.last()));
        }
        struct statvfs room;
        QVERIFY(::statvfs(QFile::encodeName(volume).constData(), &room) == 0);
        const qint64 free = qint64(room.f_bavail) * qint64(room.f_frsize);
        TestEnv::writeAll(volume + QStringLiteral("/filler"), QByteArray(free - 16 * 1024, '\0'));

        int completed = 0;
        int full = 0;
        for (const QString &source : sources) {
            const TaskItem done = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy::keepOriginal);
            if (done.status == TaskStatus::completed) {
                ++completed;
                QCOMPARE(restored(done.destinationURL->toLocalFile()), originals.value(source));
                continue;
            }
            QVERIFY2(done.errorMessage->startsWith(QStringLiteral("磁盘空间已满，无法写入 ") + volume),
                     qPrintable(*done.errorMessage));
            ++full;
        }
        QVERIFY(completed >= 1 && full >= 1); // the first fits; the larger ones after it cannot all fit
        for (const QString &source : sources)
            QCOMPARE(TestEnv::readAll(source), originals.value(source));
        for (const QString &name : TestEnv::entries(volume))
            QVERIFY2(!name.startsWith(QLatin1String(".pikora-")), qPrintable(name));
    }
};

// The shim must be in place before the first file call: without it, start again with it.
int main(int argc, char **argv)
{
    if (!dlsym(RTLD_DEFAULT, "pikora_fault_shim_loaded") && !qEnvironmentVariableIsSet("PIKORA_FAULT_SHIM_TRIED")) {
        setenv("PIKORA_FAULT_SHIM_TRIED", "1", 1);
        setenv("LD_PRELOAD", PIKORA_FAULT_SHIM_PATH, 1);
        execv("/proc/self/exe", argv);
    }
    QCoreApplication app(argc, argv);
    TestFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
