#include "engine/filejob.h"
#include "engine/outputfiles.h"
#include "platform/renamenoreplace.h"
#include "engineruns.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <sys/statvfs.h>
#include <unistd.h>

using EngineRuns::taskFor;
using EngineRuns::runJob;
using namespace Qt::StringLiterals;

// The file system misbehaving, through a preloaded shim (tests/faultshim).
class TestFaults final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    int m_case = 0;

    static void setFaults(const QByteArray &faults) { qputenv("PIKORA_FAULTS", faults); }

    // One job with the given faults in force (none after it).
    static TaskItem run(const TaskItem &task, DeleteStrategy strategy, const QByteArray &faults = {})
    {
        return runWith(task, EngineRuns::settingsWith(strategy), faults);
    }
    static TaskItem runWith(const TaskItem &task, const AppSettings &settings, const QByteArray &faults)
    {
        setFaults(faults);
        const TaskItem done = runJob(task, settings);
        setFaults({});
        return done;
    }

    QByteArray restored(const QString &jxl) { return EngineRuns::restored(jxl, m_root.filePath(u"check.jpg"_s)); }

    // A stand-in for a real tool that runs it, then the given commands.
    QString standIn(const QString &tool, const QByteArray &after)
    {
        return TestEnv::writeScript(m_root.filePath(tool + QString::number(m_case)),
                                    "'" + QFile::encodeName(TestEnv::installedTool(tool)) + "' \"$@\" || exit $?\n" + after);
    }

    static void noTemporariesIn(const QString &folder)
    {
        for (const QString &name : TestEnv::entries(folder))
            QVERIFY2(!name.startsWith(u".pikora-"_s), qPrintable(name));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        QVERIFY2(dlsym(RTLD_DEFAULT, "pikora_fault_shim_loaded"), "the fault shim is not preloaded");
        TestEnv::isolateHome(m_root.filePath(u"user"_s));
        TestEnv::isolateTemporaries(m_root.filePath(u"tmp"_s));
        if (TestEnv::installedTool(u"cjxl"_s).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(u"case%1"_s.arg(++m_case));
        QDir().mkpath(m_work);
        setFaults({});
    }

    void cleanup() { setFaults({}); }

    // Without RENAME_NOREPLACE and hard links the name is reserved first; nothing taken is replaced.
    void renameWithoutNoReplaceOrLinks_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("existing"); // what is at the target already
        for (const bool folder : {false, true}) {
            // rename() itself would replace an empty folder.
            for (const char *existing : {"nothing", "file", "folder", "link"})
                QTest::addRow("%s onto %s", folder ? "folder" : "file", existing) << folder << QString::fromLatin1(existing);
        }
    }

    void renameWithoutNoReplaceOrLinks()
    {
        QFETCH(bool, folder);
        QFETCH(QString, existing);
        const QString from = m_work + u"/from"_s;
        const QString to = m_work + u"/to"_s;
        if (folder)
            QVERIFY(QDir().mkpath(from + u"/inside"_s));
        else
            TestEnv::writeAll(from, "moving");
        if (existing == u"file"_s)
            TestEnv::writeAll(to, "taken");
        else if (existing == u"folder"_s)
            QVERIFY(QDir().mkdir(to));
        else if (existing == u"link"_s)
            QVERIFY(QFile::link(m_work + u"/nowhere"_s, to));

        setFaults("no-renameat2,no-link");
        const int result = renameNoReplace(QFile::encodeName(from), QFile::encodeName(to));
        setFaults({});
        const bool free = existing == u"nothing"_s;
        QCOMPARE(result, free ? 0 : int(EEXIST));
        QCOMPARE(QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 (free ? QStringList{u"to"_s} : QStringList{u"from"_s, u"to"_s}));
        // What moved is whole, and what was there is as it was.
        QVERIFY(folder ? QFileInfo::exists((free ? to : from) + u"/inside"_s) : TestEnv::readAll(free ? to : from) == "moving");
        QCOMPARE(QFileInfo(to).isSymLink() ? u"link"_s : QFileInfo(to).isDir() ? u"folder"_s : TestEnv::readAll(to) == "taken" ? u"file"_s : u"nothing"_s,
                 free && folder ? u"folder"_s : free ? u"nothing"_s : existing);
    }

    // x.jpg and x.jpeg in two pikora-cli processes, both deleting originals, on a file system
    // without RENAME_NOREPLACE or hard links; renames are slowed so that the two placements
    // overlap. Each photo must end in a JXL of its own.
    void twoProcessesRaceForOneName()
    {
        const QString a = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work, u"x.jpg"_s);
        const QString b = TestEnv::copyData(u"jpeg/cameras/Nikon_D70.jpg"_s, m_work, u"x.jpeg"_s);
        const QSet<QByteArray> photos{TestEnv::readAll(a), TestEnv::readAll(b)};
        // Both encoders finish together: each waits for the other before exiting.
        const QByteArray barrier = QFile::encodeName(m_root.filePath(u"barrier%1"_s.arg(m_case)));
        QVERIFY(QDir().mkpath(QFile::decodeName(barrier)));
        const QString cjxl = standIn(u"cjxl"_s, "touch '" + barrier + "'/$$\nn=0; while [ $(ls '" + barrier
                                                     + "' | wc -l) -lt 2 ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PIKORA_FAULTS"_s, u"no-renameat2,no-link,rename-delay=1500"_s);
        std::vector<std::unique_ptr<QProcess>> processes;
        for (const QString &photo : {a, b}) {
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->setProcessEnvironment(environment);
            processes.back()->start(QStringLiteral(PIKORA_CLI_PATH), {u"compress"_s, u"-o"_s, u"delete"_s, u"-e"_s, u"3"_s, u"-j"_s,
                                                                      u"1"_s, u"--cjxl"_s, cjxl, photo});
        }
        for (const auto &process : processes) {
            QVERIFY(process->waitForFinished(120000));
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        }
        QCOMPARE(TestEnv::entries(m_work), (QStringList{u"x (1).jxl"_s, u"x.jxl"_s}));
        QCOMPARE((QSet<QByteArray>{restored(m_work + u"/x.jxl"_s), restored(m_work + u"/x (1).jxl"_s)}), photos);
    }

    // A source goes only once its output (also one a former run or a copy left) is flushed, data
    // then folder. A source an editor or sync client changed around the tool stays as it now is
    // (beside a newer file that took its name, if any); the job fails and leaves no stale output.
    void aSourceGoesOnlyWhenSafe_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("existing"); // what stands at the output's name beforehand
        QTest::addColumn<QByteArray>("after"); // run on "$1" after the real tool
        QTest::addColumn<bool>("refill");
        QTest::addColumn<QByteArray>("faults");
        const QByteArray rewrite = "printf EDIT | dd of=\"$1\" bs=1 seek=300 conv=notrunc 2>/dev/null";
        const QByteArray replace = "cp \"$1\" \"$1.new\" && printf EDIT | dd of=\"$1.new\" bs=1 seek=300 conv=notrunc "
                                   "2>/dev/null && mv -f \"$1.new\" \"$1\"";
        for (const int mode : {int(ConversionMode::jpegToJXL), int(ConversionMode::jxlToJPEG)}) {
            for (const int strategy : {int(DeleteStrategy::moveToTrash), int(DeleteStrategy::deleteImmediately)}) {
                const QByteArray tag = QByteArray(mode == int(ConversionMode::jpegToJXL) ? "compress" : "restore") + ", "
                                       + (strategy == int(DeleteStrategy::moveToTrash) ? "trash" : "delete");
                const auto row = [&](const char *what, const QString &existing, const QByteArray &after, bool refill,
                                     const QByteArray &faults = {}) {
                    QTest::addRow("%s, %s", tag.constData(), what) << mode << strategy << existing << after << refill << faults;
                };
                row("rewritten in place", QString(), rewrite, false);
                row("replaced by a rename", QString(), replace, false);
                row("rewritten, its name taken meanwhile", QString(), rewrite, true);
                row("only touched", QString(), "touch \"$1\"", false);
                row("a former run's output", u"former"_s, {}, false);
                if (mode == int(ConversionMode::jpegToJXL))
                    row("a plain copy as output", u"copy"_s, {}, false);
                // FAT, many FUSE and SMB mounts: compression works without the stored digest, and
                // a restore that cannot read it completes unproven and keeps the JXL.
                row("no extended attributes", QString(), {}, false, ",no-xattr");
            }
        }
        // A kept original is checked before its output is placed: the output would hold the old bytes.
        QTest::newRow("compress, keep, rewritten in place")
            << int(ConversionMode::jpegToJXL) << int(DeleteStrategy::keepOriginal) << QString() << rewrite << false << QByteArray();
    }

    void aSourceGoesOnlyWhenSafe()
    {
        QFETCH(int, mode);
        QFETCH(int, strategy);
        QFETCH(QString, existing);
        QFETCH(QByteArray, after);
        QFETCH(bool, refill);
        QFETCH(QByteArray, faults);
        const bool compress = ConversionMode(mode) == ConversionMode::jpegToJXL;
        const QString photo = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work, u"photo.jpg"_s);
        const QByteArray original = TestEnv::readAll(photo);
        const QString jxl = m_work + u"/photo.jxl"_s;
        if (!compress || existing == u"former"_s)
            QCOMPARE(run(taskFor(photo, ConversionMode::jpegToJXL), DeleteStrategy::keepOriginal).status, TaskStatus::completed);
        if (!compress && existing.isEmpty())
            QVERIFY(QFile::remove(photo));
        if (existing == u"copy"_s)
            QVERIFY(QFile::copy(TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s), jxl)); // no stored digest: proven by decoding
        const QString source = compress ? photo : jxl;
        const QString output = compress ? jxl : photo;
        AppSettings settings = EngineRuns::settingsWith(DeleteStrategy(strategy));
        if (!after.isEmpty())
            (compress ? settings.customCjxlPath : settings.customDjxlPath) = standIn(compress ? u"cjxl"_s : u"djxl"_s, after);
        const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + u"/Trash"_s;
        const QStringList trashed = TestEnv::entries(trash + u"/files"_s);
        const QString log = m_root.filePath(u"trace%1"_s.arg(m_case));
        // The refill acts once, for this source's own name.
        faults += ",trace=" + QFile::encodeName(log) + (refill ? ",refill=" + QFile::encodeName(source) : QByteArray());
        const TaskItem done = runWith(taskFor(source, ConversionMode(mode)), settings, faults);
        if (!after.contains("EDIT")) {
            const bool unproven = !compress && faults.contains("no-xattr");
            QCOMPARE(done.status, TaskStatus::completed);
            QCOMPARE(done.isVerified, !unproven);
            QCOMPARE(done.warning.has_value(), unproven);
            QCOMPARE(QFileInfo::exists(source), unproven);
            QCOMPARE(compress ? restored(output) : TestEnv::readAll(output), original);
            if (unproven)
                return;
            const QStringList lines = QString::fromLocal8Bit(TestEnv::readAll(log)).split(u'\n', Qt::SkipEmptyParts);
            const auto firstLine = [&](const QString &start) { return lines.indexOf(QRegularExpression(QRegularExpression::escape(start) + u".*"_s)); }; // whole lines
            // A fresh output was flushed under its temporary name before it took its own, then its folder.
            QString flushedAs = output;
            for (const QString &line : lines)
                flushedAs = line.startsWith(u"rename "_s) && line.endsWith(u' ' + output) ? line.mid(7, line.size() - 8 - output.size()) : flushedAs;
            const qsizetype gone = std::max(firstLine(u"rename "_s + source + u' '), firstLine(u"unlink "_s + source));
            const QByteArray trace = lines.join(u'\n').toLocal8Bit();
            QVERIFY2(gone >= 0, trace.constData());
            for (const qsizetype flushed : {firstLine(u"fsync "_s + flushedAs), lines.indexOf(u"fsync "_s + m_work)})
                QVERIFY2(flushed >= 0 && flushed < gone, trace.constData());
            return;
        }
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY2(done.errorMessage->startsWith(u"原照片在转换过程中被修改，已保留修改后的文件；请重新转换"_s), qPrintable(*done.errorMessage));
        QVERIFY(!done.destinationURL || !QFileInfo::exists(done.destinationURL->toLocalFile()));
        QVERIFY2(!QFileInfo::exists(output), "the output holds the bytes from before the edit");
        // The edited file is where the user looks for it, never in the trash or under our name.
        const QString kept = refill ? OutputFiles::alternativeName(source, 1) : source;
        QVERIFY2(TestEnv::readAll(kept).contains("EDIT"), qPrintable(TestEnv::entries(m_work).join(u',')));
        if (refill) {
            QCOMPARE(TestEnv::readAll(source), QByteArray("newer"));
            QVERIFY2(done.errorMessage->contains(kept), qPrintable(*done.errorMessage));
        }
        QCOMPARE(TestEnv::entries(trash + u"/files"_s), trashed);
        QCOMPARE(TestEnv::entries(trash + u"/info"_s).size(), trashed.size());
        noTemporariesIn(m_work);
        // A retry converts the photo as it now is.
        if (compress && !refill) {
            const QByteArray edited = TestEnv::readAll(source);
            const TaskItem again = run(done, DeleteStrategy(strategy));
            QCOMPARE(again.status, TaskStatus::completed);
            QCOMPARE(restored(again.destinationURL->toLocalFile()), edited);
        }
    }

    // The conversion succeeded, so the job completes; the original that stayed is its warning.
    void undisposedOriginalBecomesAWarning_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QByteArray>("faults"); // none: the trash cannot be made
        QTest::addColumn<bool>("link");         // the source is a symbolic link to the photo
        QTest::addColumn<QString>("reason");
        const int trash = int(DeleteStrategy::moveToTrash);
        const int remove = int(DeleteStrategy::deleteImmediately);
        QTest::newRow("delete refused") << remove << QByteArray("deny=undisposable") << false << u"无法删除“"_s;
        QTest::newRow("trash refused") << trash << QByteArray("deny=undisposable") << false << u"移至回收站："_s;
        QTest::newRow("trash cannot be made") << trash << QByteArray() << false << u"移至回收站："_s;
        QTest::newRow("delete refused, no hard links") << remove << QByteArray("deny=undisposable,no-renameat2,no-link") << false << u"无法删除“"_s;
        // Removing a link would leave the photo, counted as gone; trashing it would trash the link.
        for (const int strategy : {remove, trash})
            QTest::addRow("a link, %s", strategy == trash ? "trash" : "delete")
                << strategy << QByteArray("none") << true << u"是符号链接，它指向的照片未做处理"_s;
    }

    void undisposedOriginalBecomesAWarning()
    {
        QFETCH(int, strategy);
        QFETCH(QByteArray, faults);
        QFETCH(bool, link);
        QFETCH(QString, reason);
        const QString source = m_work + u"/undisposable.jpg"_s;
        if (link)
            QVERIFY(QFile::link(TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work + u"/elsewhere"_s), source));
        else
            TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work, u"undisposable.jpg"_s);
        const QByteArray original = TestEnv::readAll(source);
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        if (faults.isEmpty()) {
            // The trash folder's place is taken by a file.
            const QString blocked = m_root.filePath(u"data-home%1"_s.arg(m_case));
            TestEnv::writeAll(blocked + u"/Trash"_s, "not a folder");
            qputenv("XDG_DATA_HOME", QFile::encodeName(blocked));
        }
        const TaskItem done = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy(strategy), faults);
        qputenv("XDG_DATA_HOME", dataHome);
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        QVERIFY2(done.warning && done.warning->contains(reason) && done.warning->contains(u"undisposable.jpg"_s),
                 qPrintable(done.warning.value_or(QString())));
        QCOMPARE(QFileInfo(source).isSymLink(), link);
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(restored(m_work + u"/undisposable.jxl"_s), original);
    }

    // The output folder refuses the new file, or a folder of the output tree cannot be made: the
    // reason names the folder, never our temporary, and says why in the user's words.
    void writeFailuresNameTheFolder_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("below"); // where the output goes below the case's folder
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only") << int(EROFS) << QString() << u"无法写入 %1：该文件夹是只读的"_s;
        QTest::newRow("new folder, read-only volume") << int(EROFS) << u"out/sub"_s << u"无法创建输出文件夹 %1/out：该卷是只读的"_s;
        QTest::newRow("new folder, no permission") << int(EACCES) << u"out/sub"_s << u"无法创建输出文件夹 %1/out：没有权限"_s;
    }

    void writeFailuresNameTheFolder()
    {
        QFETCH(int, error);
        QFETCH(QString, below);
        QFETCH(QString, message);
        TaskItem task = taskFor(TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work), ConversionMode::jpegToJXL);
        if (!below.isEmpty())
            task.destinationURL = QUrl::fromLocalFile(m_work + u'/' + below + u"/Canon_40D.jxl"_s);
        // A tool that would run marks it: a job that cannot place its output runs none.
        const QString marker = m_root.filePath(u"ran%1"_s.arg(m_case));
        AppSettings settings = EngineRuns::settingsWith(DeleteStrategy::deleteImmediately);
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(u"marking-cjxl%1"_s.arg(m_case)),
                                                       "touch '" + QFile::encodeName(marker) + "'; exit 1");
        const TaskItem done = runWith(task, settings, "create-errno=" + QByteArray::number(error) + '@' + QFile::encodeName(m_work));
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, message.arg(m_work));
        QCOMPARE(TestEnv::entries(m_work), QStringList{u"Canon_40D.jpg"_s});
        QVERIFY(!QFileInfo::exists(marker));
    }

    // A real volume that fills up while photos are converted onto it: the jobs that no longer
    // fit say so first, and nothing is lost or left behind.
    void aVolumeThatFillsUp()
    {
        const ScratchVolume scratch(m_work + u"/volume"_s, 1024 * 1024);
        if (!scratch.isMounted())
            QSKIP("mounting a small volume needs root");
        const QString &volume = scratch.folder();
        // The first photo's output fits, the larger ones after it do not.
        QStringList sources;
        QHash<QString, QByteArray> originals;
        for (const char *name : {"Canon_40D.jpg", "Samsung_Digimax_i50_MP3.jpg", "Konica_Minolta_DiMAGE_Z3.jpg", "Canon_PowerShot_S40.jpg"}) {
            sources.append(TestEnv::copyData(u"jpeg/cameras/"_s + QLatin1String(name), volume));
            originals.insert(sources.last(), TestEnv::readAll(sources.last()));
        }
        struct statvfs room;
        QVERIFY(::statvfs(QFile::encodeName(volume).constData(), &room) == 0);
        TestEnv::writeAll(volume + u"/filler"_s, QByteArray(qint64(room.f_bavail) * qint64(room.f_frsize) - 16 * 1024, '\0'));

        int completed = 0;
        for (const QString &source : sources) {
            const TaskItem done = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy::keepOriginal);
            if (done.status == TaskStatus::completed)
                QCOMPARE(restored(done.destinationURL->toLocalFile()), originals.value(source));
            else
                QVERIFY2(done.errorMessage->startsWith(u"磁盘空间已满，无法写入 "_s + volume), qPrintable(*done.errorMessage));
            completed += done.status == TaskStatus::completed ? 1 : 0;
        }
        QVERIFY(completed >= 1 && completed < originals.size()); // the first fits; not all of them can
        for (const QString &source : sources)
            QCOMPARE(TestEnv::readAll(source), originals.value(source));
        noTemporariesIn(volume);
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
