#include "engine/filejob.h"
#include "engine/outputfiles.h"
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

#include <algorithm>
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

    // A tool stand-in edits its input around the real tool, as an editor saving in place or a
    // sync client renaming a new version over it would. A changed source stays as it now is
    // (back at its name, or beside a newer file that took its name meanwhile), the job fails
    // with that reason and leaves no output of the old bytes; one only touched goes as asked.
    void aSourceChangedDuringItsJob_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QByteArray>("after"); // run on "$1" after the real tool
        QTest::addColumn<QByteArray>("faults");
        QTest::addColumn<bool>("changed");
        const QByteArray rewrite = "printf EDIT | dd of=\"$1\" bs=1 seek=300 conv=notrunc 2>/dev/null";
        const QByteArray replace = "cp \"$1\" \"$1.new\" && printf EDIT | dd of=\"$1.new\" bs=1 seek=300 conv=notrunc "
                                   "2>/dev/null && mv -f \"$1.new\" \"$1\"";
        for (const int mode : {int(ConversionMode::jpegToJXL), int(ConversionMode::jxlToJPEG)}) {
            for (const int strategy : {int(DeleteStrategy::moveToTrash), int(DeleteStrategy::deleteImmediately)}) {
                const QByteArray tag = QByteArray(mode == int(ConversionMode::jpegToJXL) ? "compress" : "restore") + ", "
                    + (strategy == int(DeleteStrategy::moveToTrash) ? "trash" : "delete");
                QTest::addRow("%s, rewritten in place", tag.constData()) << mode << strategy << rewrite
                                                                          << QByteArray() << true;
                QTest::addRow("%s, replaced by a rename", tag.constData()) << mode << strategy << replace
                                                                            << QByteArray() << true;
                QTest::addRow("%s, only touched", tag.constData()) << mode << strategy << QByteArray("touch \"$1\"")
                                                                    << QByteArray() << false;
                QTest::addRow("%s, rewritten, its name taken meanwhile", tag.constData())
                    << mode << strategy << rewrite << QByteArray("refill") << true;
            }
        }
        // A kept original is checked before its output is placed: the output would hold the old bytes.
        QTest::newRow("compress, keep, rewritten in place") << int(ConversionMode::jpegToJXL)
                                                            << int(DeleteStrategy::keepOriginal) << rewrite << QByteArray() << true;
    }

    void aSourceChangedDuringItsJob()
    {
        QFETCH(int, mode);
        QFETCH(int, strategy);
        QFETCH(QByteArray, after);
        QFETCH(QByteArray, faults);
        QFETCH(bool, changed);
        const bool compress = ConversionMode(mode) == ConversionMode::jpegToJXL;
        QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("photo.jpg"));
        if (!compress) {
            const TaskItem made = run(taskFor(source, ConversionMode::jpegToJXL), DeleteStrategy::deleteImmediately);
            QCOMPARE(made.status, TaskStatus::completed);
            source = made.destinationURL->toLocalFile();
        }
        const QString tool = compress ? QStringLiteral("cjxl") : QStringLiteral("djxl");
        const QString standIn = TestEnv::writeScript(m_work + QStringLiteral("/../editing-") + tool + QString::number(m_case),
                                                     "'" + QFile::encodeName(TestEnv::installedTool(tool))
                                                         + "' \"$@\" || exit $?\n" + after);
        AppSettings settings = EngineRuns::settingsWith(DeleteStrategy(strategy));
        (compress ? settings.customCjxlPath : settings.customDjxlPath) = standIn;

        const QString trash = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME")) + QStringLiteral("/Trash");
        const QStringList trashed = TestEnv::entries(trash + QStringLiteral("/files"));
        if (!faults.isEmpty())
            faults += '=' + QFile::encodeName(source); // once, for this source's own name
        setFaults(faults);
        const TaskItem done = runJob(taskFor(source, ConversionMode(mode)), settings);
        setFaults({});
        const QString output = m_work + (compress ? QStringLiteral("/photo.jxl") : QStringLiteral("/photo.jpg"));
        if (!changed) {
            QCOMPARE(done.status, TaskStatus::completed);
            QVERIFY(!done.warning);
            QVERIFY(!QFileInfo::exists(source));
            QVERIFY(QFileInfo::exists(output));
            return;
        }
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY2(done.errorMessage->startsWith(QStringLiteral("原照片在转换过程中被修改，已保留修改后的文件；请重新转换")),
                 qPrintable(*done.errorMessage));
        QVERIFY(!done.destinationURL || !QFileInfo::exists(done.destinationURL->toLocalFile()));
        QVERIFY2(!QFileInfo::exists(output), "the output holds the bytes from before the edit");
        // The edited file is where the user looks for it, never in the trash or under our name.
        const QString kept = faults.isEmpty() ? source : OutputFiles::alternativeName(source, 1);
        QVERIFY2(TestEnv::readAll(kept).contains("EDIT"), qPrintable(TestEnv::entries(m_work).join(u',')));
        if (!faults.isEmpty()) {
            QCOMPARE(TestEnv::readAll(source), QByteArray("newer"));
            QVERIFY2(done.errorMessage->contains(kept), qPrintable(*done.errorMessage));
        }
        QCOMPARE(TestEnv::entries(trash + QStringLiteral("/files")), trashed);
        QCOMPARE(TestEnv::entries(trash + QStringLiteral("/info")).size(), trashed.size());
        for (const QString &name : TestEnv::entries(m_work))
            QVERIFY2(!name.startsWith(QLatin1String(".pikora-")), qPrintable(name));
        // A retry converts the photo as it now is.
        if (compress && faults.isEmpty()) {
            const QByteArray edited = TestEnv::readAll(source);
            const TaskItem again = run(done, DeleteStrategy(strategy));
            QCOMPARE(again.status, TaskStatus::completed);
            QCOMPARE(restored(again.destinationURL->toLocalFile()), edited);
        }
    }

    // Whatever the path to a source's disposal, the output it relies on is flushed first: its
    // data, then its folder. Outputs a former run or a copy left are flushed as well.
    void theOutputIsFlushedBeforeItsSourceGoes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("existing"); // what stands at the output's name beforehand
        for (const int strategy : {int(DeleteStrategy::moveToTrash), int(DeleteStrategy::deleteImmediately)}) {
            const char *how = strategy == int(DeleteStrategy::moveToTrash) ? "trash" : "delete";
            QTest::addRow("compress, %s, fresh", how) << int(ConversionMode::jpegToJXL) << strategy << QString();
            QTest::addRow("compress, %s, a former run's", how) << int(ConversionMode::jpegToJXL) << strategy
                                                               << QStringLiteral("former");
            QTest::addRow("compress, %s, a plain copy", how) << int(ConversionMode::jpegToJXL) << strategy
                                                             << QStringLiteral("copy");
            QTest::addRow("restore, %s, fresh", how) << int(ConversionMode::jxlToJPEG) << strategy << QString();
            QTest::addRow("restore, %s, a former run's", how) << int(ConversionMode::jxlToJPEG) << strategy
                                                              << QStringLiteral("former");
        }
    }

    void theOutputIsFlushedBeforeItsSourceGoes()
    {
        QFETCH(int, mode);
        QFETCH(int, strategy);
        QFETCH(QString, existing);
        const bool compress = ConversionMode(mode) == ConversionMode::jpegToJXL;
        const QString photo = TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work, QStringLiteral("p.jpg"));
        const QByteArray original = TestEnv::readAll(photo);
        const QString jxl = m_work + QStringLiteral("/p.jxl");
        QString source = photo;
        QString output = jxl;
        if (!compress) {
            QCOMPARE(run(taskFor(photo, ConversionMode::jpegToJXL), DeleteStrategy::keepOriginal).status, TaskStatus::completed);
            if (existing.isEmpty())
                QVERIFY(QFile::remove(photo));
            source = jxl;
            output = photo;
        } else if (existing == QStringLiteral("former")) {
            QCOMPARE(run(taskFor(photo, ConversionMode::jpegToJXL), DeleteStrategy::keepOriginal).status, TaskStatus::completed);
        } else if (existing == QStringLiteral("copy")) {
            QFile::copy(TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")), jxl); // no stored digest: proven by decoding
            QFile::remove(photo);
            QVERIFY(QFile::copy(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")), photo));
        }
        const QByteArray expected = compress ? TestEnv::readAll(photo) : original;
        const QString log = m_root.filePath(QStringLiteral("trace%1").arg(m_case));
        setFaults("trace=" + QFile::encodeName(log));
        const TaskItem done = run(taskFor(source, ConversionMode(mode)), DeleteStrategy(strategy));
        setFaults({});
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(!QFileInfo::exists(source));
        QCOMPARE(compress ? restored(output) : TestEnv::readAll(output), expected);

        const QStringList lines = QString::fromLocal8Bit(TestEnv::readAll(log)).split(u'\n', Qt::SkipEmptyParts);
        const auto firstLine = [&](const QString &line) {
            const auto at = std::find_if(lines.cbegin(), lines.cend(), [&](const QString &l) { return l.startsWith(line); });
            return at == lines.cend() ? qsizetype(-1) : qsizetype(at - lines.cbegin());
        };
        const QString trace = lines.join(u'\n');
        // A fresh output was flushed under its temporary name before it took its own.
        QString flushedAs = output;
        for (const QString &line : lines) {
            if (line.startsWith(QStringLiteral("rename ")) && line.endsWith(u' ' + output))
                flushedAs = line.mid(7, line.size() - 8 - output.size());
        }
        const qsizetype gone = std::max(firstLine(QStringLiteral("rename ") + source + u' '), firstLine(QStringLiteral("unlink ") + source));
        const qsizetype fileFlushed = firstLine(QStringLiteral("fsync ") + flushedAs);
        const qsizetype folderFlushed = lines.indexOf(QStringLiteral("fsync ") + m_work);
        QVERIFY2(gone >= 0, qPrintable(trace));
        QVERIFY2(fileFlushed >= 0 && fileFlushed < gone, qPrintable(trace));
        QVERIFY2(folderFlushed >= 0 && folderFlushed < gone, qPrintable(trace));
    }

    // The conversion succeeded, so the job completes; the original that stayed is its warning.
    void undisposedOriginalBecomesAWarning_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QByteArray>("faults");
        QTest::addColumn<bool>("link"); // the source is a symbolic link to the photo
        QTest::addColumn<QString>("reason");
        QTest::newRow("delete refused") << int(DeleteStrategy::deleteImmediately) << QByteArray("deny=undisposable")
                                        << false << QStringLiteral("无法删除“");
        QTest::newRow("trash refused") << int(DeleteStrategy::moveToTrash) << QByteArray("deny=undisposable") << false
                                       << QStringLiteral("移至回收站：");
        QTest::newRow("trash cannot be made") << int(DeleteStrategy::moveToTrash) << QByteArray() << false
                                              << QStringLiteral("移至回收站：");
        QTest::newRow("delete refused, no hard links") << int(DeleteStrategy::deleteImmediately)
                                                       << QByteArray("deny=undisposable,no-renameat2,no-link") << false
                                                       << QStringLiteral("无法删除“");
        // Removing a link would leave the photo, counted as gone; trashing it would trash the link.
        for (const int strategy : {int(DeleteStrategy::deleteImmediately), int(DeleteStrategy::moveToTrash)})
            QTest::addRow("a link, %s", strategy == int(DeleteStrategy::moveToTrash) ? "trash" : "delete")
                << strategy << QByteArray("none") << true << QStringLiteral("是符号链接，它指向的照片未做处理");
    }

    void undisposedOriginalBecomesAWarning()
    {
        QFETCH(int, strategy);
        QFETCH(QByteArray, faults);
        QFETCH(bool, link);
        QFETCH(QString, reason);
        QString source = m_work + QStringLiteral("/undisposable.jpg");
        if (link) {
            const QString photo = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work + QStringLiteral("/elsewhere"));
            QVERIFY(QFile::link(photo, source));
        } else {
            TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("undisposable.jpg"));
        }
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
        QCOMPARE(QFileInfo(source).isSymLink(), link);
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

    // The output folder refuses the new file, or a folder of the output tree cannot be made: the
    // reason names the folder, never our temporary, and says why in the user's words.
    void writeFailuresNameTheFolder_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("below"); // where the output goes below the case's folder
        QTest::addColumn<QString>("message");
        QTest::newRow("read-only") << int(EROFS) << QString() << QStringLiteral("无法写入 %1：该文件夹是只读的");
        QTest::newRow("no permission") << int(EACCES) << QString() << QStringLiteral("无法写入 %1：没有写入该文件夹的权限");
        QTest::newRow("full") << int(ENOSPC) << QString() << QStringLiteral("磁盘空间已满，无法写入 %1");
        QTest::newRow("new folder, read-only volume")
            << int(EROFS) << QStringLiteral("out/sub") << QStringLiteral("无法创建输出文件夹 %1/out：该卷是只读的");
        QTest::newRow("new folder, no permission")
            << int(EACCES) << QStringLiteral("out/sub") << QStringLiteral("无法创建输出文件夹 %1/out：没有权限");
    }

    void writeFailuresNameTheFolder()
    {
        QFETCH(int, error);
        QFETCH(QString, below);
        QFETCH(QString, message);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        TaskItem task = taskFor(source, ConversionMode::jpegToJXL);
        if (!below.isEmpty())
            task.destinationURL = QUrl::fromLocalFile(m_work + u'/' + below + QStringLiteral("/Canon_40D.jxl"));
        // A tool that would run marks it: a job that cannot place its output runs none.
        const QString marker = m_root.filePath(QStringLiteral("ran%1").arg(m_case));
        AppSettings settings = EngineRuns::settingsWith(DeleteStrategy::deleteImmediately);
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("marking-cjxl%1").arg(m_case)),
                                                       "touch '" + QFile::encodeName(marker) + "'; exit 1");
        setFaults(QByteArray::number(error).prepend("create-errno=") + '@' + QFile::encodeName(m_work));
        const TaskItem done = runJob(task, settings);
        setFaults({});
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, message.arg(m_work));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
        QVERIFY(!QFileInfo::exists(marker));
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
