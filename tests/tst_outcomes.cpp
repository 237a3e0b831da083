#include "engine/diskspaceguard.h"
#include "engine/filejob.h"
#include "engine/jpegdiagnosis.h"
#include "engine/toolrun.h"
#include "engineruns.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

using Problem = JpegDiagnosis::Problem;
using namespace Qt::StringLiterals;

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
        const QString stat = u"/proc/"_s + QString::fromLatin1(pid) + u"/stat"_s;
        return !QFile::exists(stat) || TestEnv::readAll(stat).contains(") Z ");
    }

    static QByteArray jpeg(const QString &file) { return TestEnv::readAll(TestEnv::dataPath(u"jpeg/"_s + file)); }

    // A temporary folder of its own volume, or an invalid one.
    bool otherVolume(const QTemporaryDir &shm) const { return shm.isValid() && QStorageInfo(shm.path()) != QStorageInfo(m_work); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        TestEnv::isolateHome(m_dir.filePath(u"user"_s));
    }

    void init()
    {
        m_work = m_dir.filePath(u"case%1"_s.arg(++m_case));
        QVERIFY(QDir().mkpath(m_work));
    }

    // Why cjxl would refuse a JPEG, found in its markers; every photo cjxl takes must come out
    // clean, as a false reason would mislead.
    void refusalCauses_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<Problem>("problem");
        for (const auto &[file, problem] : {std::pair{"unsupported/12-bit.jpg", Problem::precision}, {"unsupported/arithmetic.jpg", Problem::arithmetic},
                                            {"unsupported/cmyk.jpg", Problem::cmyk}, {"unsupported/leading-garbage.jpg", Problem::leadingData},
                                            {"unsupported/lossless-sof3.jpg", Problem::lossless}, {"unsupported/missing-eoi.jpg", Problem::missingEnd},
                                            {"unsupported/progressive-duplicate-dri.jpg", Problem::repeatedRestartInterval},
                                            {"unsupported/subsampling-411.jpg", Problem::subsampling},
                                            {"undecodable/truncated-scan.jpg", Problem::truncatedScan}})
            QTest::newRow(file) << jpeg(QLatin1String(file)) << problem;
        for (const QString &folder : {u"cameras"_s, u"broken-exif"_s, u"odd-but-lossless"_s, u"silent-mismatch"_s}) {
            for (const QString &file : QDir(TestEnv::dataPath(u"jpeg/"_s + folder)).entryList(QDir::Files))
                QTest::newRow(qPrintable(folder + u'/' + file)) << jpeg(folder + u'/' + file) << Problem::none;
        }
        // Headers made up here, each with its own fault.
        const QByteArray camera = jpeg(u"cameras/Canon_40D.jpg"_s);
        QByteArray ycck = jpeg(u"unsupported/cmyk.jpg"_s);
        ycck[4 + 2 + 11] = 2; // the Adobe segment right after SOI: transform 2
        // A three-component frame that claims two: the first two entries are read, the rest ignored.
        QByteArray twoComponents = jpeg(u"odd-but-lossless/progressive.jpg"_s);
        twoComponents[twoComponents.indexOf("\xFF\xC2") + 9] = 2;
        // 2:1 horizontally and vertically is usual; chroma sampled more than luma twice over is not.
        QByteArray odd = jpeg(u"odd-but-lossless/progressive.jpg"_s);
        odd[odd.indexOf("\xFF\xC2") + 11] = 0x11;
        odd[odd.indexOf("\xFF\xC2") + 14] = 0x41;
        QTest::newRow("empty") << QByteArray() << Problem::notJpeg;
        QTest::newRow("text") << QByteArray("hello, this is not a photo") << Problem::notJpeg;
        QTest::newRow("a png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << Problem::notJpeg;
        QTest::newRow("ycck") << ycck << Problem::ycck;
        QTest::newRow("two components") << twoComponents << Problem::componentCount;
        QTest::newRow("cut in the headers") << camera.first(400) << Problem::missingEnd;
        QTest::newRow("cut in the scan") << camera.first(camera.size() / 2) << Problem::missingEnd;
        QTest::newRow("soi only") << QByteArray("\xFF\xD8") << Problem::missingEnd;
        QTest::newRow("no marker after soi") << QByteArray("\xFF\xD8garbage and more garbage") << Problem::damagedHeader;
        QTest::newRow("chroma 4x1 over luma") << odd << Problem::subsampling;
    }

    void refusalCauses()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Problem, problem);
        QCOMPARE(JpegDiagnosis::findProblem(bytes), problem);
        QCOMPARE(JpegDiagnosis::describe(problem, bytes).isEmpty(), problem == Problem::none);
    }

    // The cause comes before what the tool said; a photo with nothing wrong in its markers keeps
    // the tool's text alone.
    void refusedJpegGivesItsCauseFirst()
    {
        if (TestEnv::installedTool(u"cjxl"_s).isEmpty())
            QSKIP("cjxl is not installed");
        const QString source = TestEnv::copyData(u"jpeg/unsupported/arithmetic.jpg"_s, m_work);
        std::unique_ptr<ToolRun> run(ToolRun::transcodeJPEGtoJXL(source, m_work + u"/a.jxl"_s, 7, {}));
        QCOMPARE(EngineRuns::runToEnd(run.get()), ToolRun::Outcome::failed);
        const QString text = run->error()->errorDescription();
        QVERIFY2(text.startsWith(u"此 JPEG 使用算术编码，cjxl 不支持对其无损转换。cjxl 运行出错 (代码 1): "_s), qPrintable(text));
        QVERIFY(text.contains(u"JxlEncoderAddJPEGFrame"_s));

        const QString good = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work);
        const QString tool = TestEnv::writeScript(m_work + u"/tool"_s, "echo 'out of luck' >&2; exit 1");
        std::unique_ptr<ToolRun> plain(ToolRun::transcodeJPEGtoJXL(good, m_work + u"/x.jxl"_s, 7, tool));
        QCOMPARE(EngineRuns::runToEnd(plain.get()), ToolRun::Outcome::failed);
        QCOMPARE(plain->error()->errorDescription(), u"cjxl 运行出错 (代码 1): out of luck"_s);
    }

    // A folder with a photo's name, a pipe named like a JXL (reading it would wait for a writer
    // forever) and a closed file: no tool can read them, and the job says why.
    void unreadableSourcesSayWhy()
    {
        const QString folder = m_work + u"/album.jpg"_s;
        QVERIFY(QDir().mkpath(folder));
        const QString pipe = m_work + u"/pipe.jxl"_s;
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        for (const auto &[source, mode] : {std::pair{folder, ConversionMode::jpegToJXL}, std::pair{pipe, ConversionMode::jxlToJPEG}})
            QCOMPARE(*EngineRuns::runJob(EngineRuns::taskFor(source, mode), AppSettings()).errorMessage,
                     u"无法读取文件: "_s + source + u" (不是普通文件)"_s);

        // Permissions: as root they only bite after giving up the effective user id.
        const QString closed = TestEnv::copyData(u"jxl/from-jpeg.jxl"_s, m_work, u"closed.jxl"_s);
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        // The folder stays writable for that user: only the photo is closed.
        QVERIFY(QFile::setPermissions(m_dir.path(), QFile::permissions(m_dir.path()) | QFile::ExeGroup | QFile::ExeOther));
        QVERIFY(QFile::setPermissions(m_work, QFile::permissions(m_work) | QFile::ExeGroup | QFile::ExeOther | QFile::WriteGroup
                                                  | QFile::WriteOther));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0);
        const TaskItem done = EngineRuns::runJob(EngineRuns::taskFor(closed, ConversionMode::jxlToJPEG), AppSettings());
        if (root)
            QCOMPARE(::seteuid(0), 0);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, u"无法读取文件: "_s + closed + u" (Permission denied)"_s);
        QVERIFY(!QFile::exists(m_work + u"/closed.jpg"_s));
    }

    void toolsDieWithTheirParent()
    {
        // A CLI run whose cjxl hangs; killing the CLI outright must take the tool along.
        TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work);
        const QString pidFile = m_dir.filePath(u"tool-%1.pid"_s.arg(m_case));
        const QString tool = TestEnv::writeScript(m_dir.filePath(u"hanging-cjxl"_s),
                                                  "echo $$ > '" + QFile::encodeName(pidFile) + "'; exec sleep 300");
        QProcess cli;
        cli.start(QStringLiteral(PIKORA_CLI_PATH), {u"compress"_s, u"-q"_s, u"--cjxl"_s, tool, m_work});
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
        const auto remove = DeleteStrategy::deleteImmediately;
        QTest::newRow("kept") << jpeg << keep << false << 2 << 6 << false << qint64(6040);
        QTest::newRow("verified, two at once") << jpeg << keep << true << 2 << 6 << false << qint64(6040 + 5700);
        QTest::newRow("verified, all at once") << jpeg << keep << true << 64 << 192 << false << qint64(6040 + 6040);
        QTest::newRow("trashed: the trash is on the volume") << jpeg << DeleteStrategy::moveToTrash << false << 1 << 2 << false << qint64(6040);
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
        QFETCH(bool, sourcesElsewhere);
        QTemporaryDir shm(u"/dev/shm/pikora-guard-XXXXXX"_s);
        if (sourcesElsewhere && !otherVolume(shm))
            QSKIP("needs /dev/shm on a volume of its own");
        QList<TaskItem> tasks;
        for (const qint64 size : {300, 5000, 40, 700}) {
            TaskItem task;
            const QString name = u"/%1."_s.arg(size) + (mode == ConversionMode::jpegToJXL ? u"jpg" : u"jxl");
            task.sourceURL = QUrl::fromLocalFile((sourcesElsewhere ? shm.path() : m_work) + name);
            task.destinationURL = QUrl::fromLocalFile(m_work + name + u".out"_s);
            task.mode = mode;
            task.originalSize = size;
            tasks.append(task);
        }
        DiskSpaceGuard::CapacityOptions options;
        options.temporaryFolder = m_work;
        QFETCH(DeleteStrategy, sources);
        QFETCH(bool, copies);
        QFETCH(int, running);
        QFETCH(int, alive);
        QFETCH(qint64, needed);
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

        QTemporaryDir shm(u"/dev/shm/pikora-guard-XXXXXX"_s);
        if (!otherVolume(shm))
            QSKIP("needs /dev/shm on a volume of its own");
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(m_work + u"/a.jpg"_s);
        task.originalSize = DiskSpaceGuard::getAvailableDiskSpace(shm.path());
        DiskSpaceGuard::CapacityOptions options;
        options.verificationCopies = true;
        options.temporaryFolder = shm.path();
        const DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity({task}, options);
        QVERIFY(!check.isSafe);
        QCOMPARE(check.volumePath, shm.path());
        QCOMPARE(check.needed, task.originalSize + DiskSpaceGuard::marginFor(QStorageInfo(shm.path()).bytesTotal()));
    }
};

QTEST_GUILESS_MAIN(TestOutcomes)
#include "tst_outcomes.moc"
