#include "engine/diskspaceguard.h"
#include "engine/filejob.h"
#include "engine/jpegdiagnosis.h"
#include "engine/toolrun.h"
#include "engineruns.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using Problem = JpegDiagnosis::Problem;

// What a failed job tells the user: why cjxl refused a JPEG, a tool killed by a signal, a source
// that cannot be read, and what a batch needs on disk.
class TestOutcomes final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_case = 0;
    QString m_work;

    static bool processGone(const QByteArray &pid)
    {
        const QString stat = QStringLiteral("/proc/") + QString::fromLatin1(pid) + QStringLiteral("/stat");
        return !QFile::exists(stat) || TestEnv::readAll(stat).contains(") Z ");
    }

    QString failureOf(const QByteArray &script, const QString &source)
    {
        const QString tool = TestEnv::writeScript(m_work + QStringLiteral("/tool"), script);
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(source, m_work + QStringLiteral("/x.jxl"), 7, tool));
        if (EngineRuns::runToEnd(run.get()) != ToolRun::Outcome::failed)
            return QStringLiteral("(not failed)");
        return run->error()->errorDescription();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TestEnv::isolateHome(m_dir.filePath(QStringLiteral("user")));
    }

    void init()
    {
        m_work = m_dir.filePath(QStringLiteral("case%1").arg(++m_case));
        QVERIFY(QDir().mkpath(m_work));
    }

    void refusalCauses_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Problem>("problem");
        QTest::addColumn<QString>("text");

        QTest::newRow("12-bit") << "unsupported/12-bit.jpg" << Problem::precision
                                << "此 JPEG 为 12 位精度，cjxl 只支持 8 位 JPEG 的无损转换。";
        QTest::newRow("arithmetic") << "unsupported/arithmetic.jpg" << Problem::arithmetic
                                    << "此 JPEG 使用算术编码，cjxl 不支持对其无损转换。";
        QTest::newRow("cmyk") << "unsupported/cmyk.jpg" << Problem::cmyk
                              << "此 JPEG 为 CMYK 色彩模式，cjxl 不支持对其无损转换。";
        QTest::newRow("leading garbage") << "unsupported/leading-garbage.jpg" << Problem::leadingData
                                         << "此文件开头有 2 字节多余数据，不是标准的 JPEG 文件。";
        QTest::newRow("lossless") << "unsupported/lossless-sof3.jpg" << Problem::lossless
                                  << "此 JPEG 为无损 JPEG (SOF3)，cjxl 不支持对其无损转换。";
        QTest::newRow("missing eoi") << "unsupported/missing-eoi.jpg" << Problem::missingEnd
                                     << "此 JPEG 数据不完整 (缺少结束标记 EOI)，文件可能在复制或下载时被截断。";
        QTest::newRow("dri per scan") << "unsupported/progressive-duplicate-dri.jpg" << Problem::repeatedRestartInterval
                                      << "此 JPEG 多次定义了重启间隔 (DRI)，cjxl 不支持对其无损转换。";
        QTest::newRow("4:1:1") << "unsupported/subsampling-411.jpg" << Problem::subsampling
                               << "此 JPEG 的色度采样方式不常见 (4×1, 1×1, 1×1)，cjxl 不支持对其无损转换。";
        QTest::newRow("truncated scan") << "undecodable/truncated-scan.jpg" << Problem::truncatedScan
                                        << "此 JPEG 的图像数据不完整 (扫描数据提前结束)，文件可能已损坏或被截断。";

        // Every photo cjxl takes must come out clean: a false reason would mislead.
        for (const char *name : {"cameras", "broken-exif", "odd-but-lossless", "silent-mismatch"}) {
            const QString folder = QString::fromLatin1(name);
            const QDir dir(TestEnv::dataPath(QStringLiteral("jpeg/") + folder));
            for (const QString &file : dir.entryList(QDir::Files))
                QTest::newRow(qPrintable(folder + QLatin1Char('/') + file))
                    << folder + QLatin1Char('/') + file << Problem::none << QString();
        }
    }

    void refusalCauses()
    {
        QFETCH(QString, file);
        QFETCH(Problem, problem);
        QFETCH(QString, text);
        const QByteArray bytes = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/") + file));
        QCOMPARE(JpegDiagnosis::findProblem(bytes), problem);
        QCOMPARE(JpegDiagnosis::refusalReason(bytes), text);
    }

    void madeUpHeaders_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Problem>("problem");
        const QByteArray camera = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")));
        QByteArray ycck = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/cmyk.jpg")));
        ycck[4 + 2 + 11] = 2; // the Adobe segment right after SOI: transform 2
        // A three-component frame that claims two: the first two entries are read, the rest ignored.
        QByteArray twoComponents = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/odd-but-lossless/progressive.jpg")));
        twoComponents[twoComponents.indexOf("\xFF\xC2") + 9] = 2;

        QTest::newRow("empty") << QByteArray() << Problem::notJpeg;
        QTest::newRow("text") << QByteArray("hello, this is not a photo") << Problem::notJpeg;
        QTest::newRow("a png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << Problem::notJpeg;
        QTest::newRow("ycck") << ycck << Problem::ycck;
        QTest::newRow("two components") << twoComponents << Problem::componentCount;
        QTest::newRow("cut in the headers") << camera.first(400) << Problem::missingEnd;
        QTest::newRow("cut in the scan") << camera.first(camera.size() / 2) << Problem::missingEnd;
        QTest::newRow("soi only") << QByteArray("\xFF\xD8") << Problem::missingEnd;
        QTest::newRow("no marker after soi") << QByteArray("\xFF\xD8garbage and more garbage") << Problem::damagedHeader;
        // 2:1 horizontally and vertically is usual; chroma sampled more than luma twice over is not.
        QByteArray odd = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/odd-but-lossless/progressive.jpg")));
        const qsizetype oddFrame = odd.indexOf("\xFF\xC2");
        odd[oddFrame + 11] = 0x11;
        odd[oddFrame + 14] = 0x41;
        QTest::newRow("chroma 4x1 over luma") << odd << Problem::subsampling;
    }

    void madeUpHeaders()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Problem, problem);
        QCOMPARE(JpegDiagnosis::findProblem(bytes), problem);
        QVERIFY(!JpegDiagnosis::describe(problem, bytes).isEmpty());
    }

    void refusedJpegGivesItsCauseFirst()
    {
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl is not installed");
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/unsupported/arithmetic.jpg"), m_work);
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(source, m_work + QStringLiteral("/a.jxl"), 7, {}));
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::failed);
        const QString text = run->error()->errorDescription();
        QVERIFY2(text.startsWith(QStringLiteral("此 JPEG 使用算术编码，cjxl 不支持对其无损转换。cjxl 运行出错 (代码 1): ")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("JxlEncoderAddJPEGFrame")));

        // A photo with nothing wrong in its markers keeps the tool's text alone.
        const QString good = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        QCOMPARE(failureOf("echo 'out of luck' >&2; exit 1", good), QStringLiteral("cjxl 运行出错 (代码 1): out of luck"));
    }

    void longMessagesKeepTheirEnd()
    {
        // 100,000 three-byte characters: the kept 64 KiB start inside one, which must not turn
        // the whole message into "未知错误".
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QString text = failureOf("i=0; while [ $i -lt 1000 ]; do printf '错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错"
                                       "错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错错"
                                       "错错错错错错错错错错错错错错错错错错错错' >&2; i=$((i+1)); done; "
                                       "echo ' the end' >&2; exit 1",
                                       source);
        QVERIFY2(text.startsWith(QStringLiteral("cjxl 运行出错 (代码 1): …错错")), qPrintable(text.left(40)));
        QVERIFY(text.endsWith(QStringLiteral("错 the end")));
        const qsizetype kept = text.size() - QStringLiteral("cjxl 运行出错 (代码 1): …").size();
        QVERIFY(kept <= ToolRun::standardErrorLimit / 3 + 8);
        QVERIFY(kept >= ToolRun::standardErrorLimit / 3 - 8);
    }

    void unreadableSourcesSayWhy()
    {
        // A folder with a photo's name exists, yet no tool can read it.
        const QString folder = m_work + QStringLiteral("/album.jpg");
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(failureOf("exit 0", folder), QStringLiteral("无法读取文件: ") + folder + QStringLiteral(" (不是普通文件)"));

        // A pipe named like a JXL: reading it would wait for a writer forever.
        const QString pipe = m_work + QStringLiteral("/pipe.jxl");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        TaskItem fromPipe;
        fromPipe.sourceURL = QUrl::fromLocalFile(pipe);
        fromPipe.mode = ConversionMode::jxlToJPEG;
        FileJob pipeJob(fromPipe, AppSettings());
        QSignalSpy pipeFinished(&pipeJob, &FileJob::finished);
        pipeJob.start();
        QVERIFY(pipeFinished.wait(30000));
        QCOMPARE(*pipeJob.task().errorMessage, QStringLiteral("无法读取文件: ") + pipe + QStringLiteral(" (不是普通文件)"));

        // Permissions: as root they only bite after giving up the effective user id.
        const QString closed = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work, QStringLiteral("closed.jxl"));
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        // The folder stays writable for that user: only the photo is closed.
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeGroup | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(m_work, QFile::permissions(m_work) | QFile::ExeGroup | QFile::ExeOther
                                                  | QFile::WriteGroup | QFile::WriteOther));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0);
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(closed);
        task.mode = ConversionMode::jxlToJPEG;
        FileJob job(task, AppSettings());
        QSignalSpy finished(&job, &FileJob::finished);
        job.start();
        const bool done = finished.wait(30000);
        if (root)
            QCOMPARE(::seteuid(0), 0);
        QVERIFY(done);
        QCOMPARE(job.task().status, TaskStatus::failed);
        QCOMPARE(*job.task().errorMessage,
                 QStringLiteral("无法读取文件: ") + closed + QStringLiteral(" (Permission denied)"));
        QVERIFY(!QFile::exists(m_work + QStringLiteral("/closed.jpg")));
    }

    void toolsDieWithTheirParent()
    {
        // A CLI run whose cjxl hangs; killing the CLI outright must take the tool along.
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QString pidFile = m_dir.filePath(QStringLiteral("tool-%1.pid").arg(m_case));
        const QString tool = TestEnv::writeScript(m_dir.filePath(QStringLiteral("hanging-cjxl")),
                                                  "echo $$ > '" + QFile::encodeName(pidFile) + "'; exec sleep 300");
        QProcess cli;
        cli.start(QStringLiteral(PIKORA_CLI_PATH),
                  {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("--cjxl"), tool, m_work});
        QTRY_VERIFY_WITH_TIMEOUT(!TestEnv::readAll(pidFile).trimmed().isEmpty(), 30000);
        const QByteArray pid = TestEnv::readAll(pidFile).trimmed();
        QVERIFY(!processGone(pid));
        ::kill(pid_t(cli.processId()), SIGKILL);
        QVERIFY(cli.waitForFinished(10000));
        QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 10000);
    }

    // What the disk check asks of the outputs' volume for four photos of 300, 5000, 40 and 700
    // bytes, beyond the margin: every output (a restored JPEG at twice its JXL), the largest
    // verification copies that exist together, and, where sources are deleted on the outputs'
    // own volume, only the outputs of the jobs alive at once.
    void whatABatchNeeds_data()
    {
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<DeleteStrategy>("sources");
        QTest::addColumn<bool>("copies");
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("alive");
        QTest::addColumn<bool>("sourcesElsewhere");
        QTest::addColumn<qint64>("needed");
        const auto jpeg = ConversionMode::jpegToJXL;
        const auto jxl = ConversionMode::jxlToJPEG;
        const auto keep = DeleteStrategy::keepOriginal;
        const auto trash = DeleteStrategy::moveToTrash;
        const auto remove = DeleteStrategy::deleteImmediately;
        QTest::newRow("kept") << jpeg << keep << false << 2 << 6 << false << qint64(6040);
        QTest::newRow("verified, two at once") << jpeg << keep << true << 2 << 6 << false << qint64(6040 + 5700);
        QTest::newRow("verified, all at once") << jpeg << keep << true << 64 << 192 << false << qint64(6040 + 6040);
        QTest::newRow("trashed: the trash is on the volume") << jpeg << trash << false << 1 << 2 << false << qint64(6040);
        QTest::newRow("deleted, two alive") << jpeg << remove << true << 1 << 2 << false << qint64(5700 + 5000);
        QTest::newRow("deleted, all alive") << jpeg << remove << false << 2 << 64 << false << qint64(6040);
        QTest::newRow("deleted on another volume") << jpeg << remove << false << 1 << 2 << true << qint64(6040);
        QTest::newRow("restored, kept: no copies") << jxl << keep << true << 2 << 6 << false << qint64(12080);
        // Each restored JPEG outlasts its JXL by up to its size; the rest passes.
        QTest::newRow("restored, deleted") << jxl << remove << false << 1 << 2 << false << qint64(6040 + 5700);
    }

    void whatABatchNeeds()
    {
        QFETCH(ConversionMode, mode);
        QFETCH(DeleteStrategy, sources);
        QFETCH(bool, copies);
        QFETCH(int, running);
        QFETCH(int, alive);
        QFETCH(bool, sourcesElsewhere);
        QFETCH(qint64, needed);
        QTemporaryDir shm(QStringLiteral("/dev/shm/pikora-guard-XXXXXX"));
        if (sourcesElsewhere && (!shm.isValid() || QStorageInfo(shm.path()) == QStorageInfo(m_work)))
            QSKIP("needs /dev/shm on a volume of its own");
        QList<TaskItem> tasks;
        for (const qint64 size : {300, 5000, 40, 700}) {
            TaskItem task;
            const QString name = QStringLiteral("/%1.").arg(size) + (mode == ConversionMode::jpegToJXL ? u"jpg" : u"jxl");
            task.sourceURL = QUrl::fromLocalFile((sourcesElsewhere ? shm.path() : m_work) + name);
            task.destinationURL = QUrl::fromLocalFile(m_work + name + QStringLiteral(".out"));
            task.mode = mode;
            task.originalSize = size;
            tasks.append(task);
        }
        DiskSpaceGuard::CapacityOptions options;
        options.temporaryFolder = m_work;
        options.verificationCopies = copies;
        options.concurrentJobs = running;
        options.jobsAlive = alive;
        options.sources = sources;
        const DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity(tasks, options);
        QCOMPARE(check.needed, needed + DiskSpaceGuard::safetyMargin);
        QCOMPARE(check.volumePath, m_work);
    }

    // A temporary folder on a volume of its own is measured there, with its own margin; a
    // restore's estimate saturates instead of wrapping round.
    void verificationCopiesCountOnTheTemporaryVolume()
    {
        TaskItem restore;
        restore.mode = ConversionMode::jxlToJPEG;
        restore.originalSize = std::numeric_limits<qint64>::max() / 2 + 1;
        QCOMPARE(DiskSpaceGuard::outputEstimate(restore), std::numeric_limits<qint64>::max());

        QTemporaryDir shm(QStringLiteral("/dev/shm/pikora-guard-XXXXXX"));
        if (!shm.isValid() || QStorageInfo(shm.path()) == QStorageInfo(m_work))
            QSKIP("needs /dev/shm on a volume of its own");
        const qint64 room = DiskSpaceGuard::getAvailableDiskSpace(shm.path());
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(m_work + QStringLiteral("/a.jpg"));
        task.originalSize = room;
        DiskSpaceGuard::CapacityOptions options;
        options.verificationCopies = true;
        options.temporaryFolder = shm.path();
        const DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity({task}, options);
        QVERIFY(!check.isSafe);
        QCOMPARE(check.volumePath, shm.path());
        QCOMPARE(check.needed, room + DiskSpaceGuard::marginFor(QStorageInfo(shm.path()).bytesTotal()));
    }
};

QTEST_GUILESS_MAIN(TestOutcomes)
#include "tst_outcomes.moc"
