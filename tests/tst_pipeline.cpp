#include "engine/filejob.h"
#include "engine/toolcommands.h"
#include "engine/outputfiles.h"
#include "platform/processowner.h"
#include "engineruns.h"
#include "testenv.h"

#include <QtEndian>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>
#include <sys/stat.h>

using EngineRuns::settingsWith;
using EngineRuns::taskFor;
using EngineRuns::runJob;
using namespace Qt::StringLiterals;

// One file's conversion end to end, real tools on real photos, fakes for the failures.
class TestPipeline final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    int m_case = 0;

    QByteArray restored(const QString &jxl) { return EngineRuns::restored(jxl, m_root.filePath(u"check.jpg"_s)); }

    QString script(const QString &name, const QByteArray &body)
    {
        return body.isEmpty() ? QString() : TestEnv::writeScript(m_root.filePath(name + QString::number(m_case)), body);
    }

    // What the real cjxl makes of source at the jobs' effort, written to output; empty when it fails.
    QString compressed(const QString &source, const QString &output)
    {
        QProcess cjxl;
        cjxl.start(u"cjxl"_s, ToolCommands::cjxlArguments(source, output, 3));
        return cjxl.waitForFinished(60000) && cjxl.exitCode() == 0 ? output : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.filePath(u"user"_s));
        TestEnv::isolateTemporaries(m_root.filePath(u"tmp"_s));
        if (TestEnv::installedTool(u"cjxl"_s).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(u"case%1"_s.arg(++m_case));
        QDir().mkpath(m_work);
    }

    // Whenever the original goes (or verification is asked for) the output is verified first. It
    // takes the original's time and permissions, never the place of a file or link at its name.
    void compressionKeepsOrProvesTheOriginal_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<bool>("verifyLossless");
        QTest::addColumn<QString>("taken"); // what stands at the output's name
        QTest::newRow("keep") << int(DeleteStrategy::keepOriginal) << false << QString();
        QTest::newRow("keep, a file at the name") << int(DeleteStrategy::keepOriginal) << false << u"file"_s;
        QTest::newRow("delete, a link at the name") << int(DeleteStrategy::deleteImmediately) << false << u"link"_s;
        QTest::newRow("keep, verify on") << int(DeleteStrategy::keepOriginal) << true << QString();
    }

    void compressionKeepsOrProvesTheOriginal()
    {
        QFETCH(int, strategy);
        QFETCH(bool, verifyLossless);
        QFETCH(QString, taken);
        const bool kept = DeleteStrategy(strategy) == DeleteStrategy::keepOriginal;
        const bool verified = verifyLossless || !kept;
        const QString stem = m_work + u"/my photo %1"_s.arg(m_case);
        const QString source = TestEnv::copyData(u"jpeg/odd-but-lossless/progressive.jpg"_s, m_work, QFileInfo(stem).fileName() + u".JPEG"_s);
        ::chmod(QFile::encodeName(source).constData(), 0640);
        const QDateTime old(QDate(2011, 5, 4), QTime(3, 2, 1));
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QByteArray original = TestEnv::readAll(source);
        const QFile::Permissions permissions = QFileInfo(source).permissions();
        if (taken == u"link"_s)
            QVERIFY(QFile::link(compressed(source, m_root.filePath(u"elsewhere%1.jxl"_s.arg(m_case))), stem + u".jxl"_s));
        else if (taken == u"file"_s)
            TestEnv::writeAll(stem + u".jxl"_s, "somebody else's file");
        AppSettings settings = settingsWith(DeleteStrategy(strategy));
        settings.verifyLossless = verifyLossless;
        QList<TaskItem> updates;
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings, &updates);
        QCOMPARE(done.status, TaskStatus::completed);
        QCOMPARE(done.isVerified, verified);
        if (taken.isEmpty())
            QCOMPARE(updates.size(), verified ? 3 : 2);
        QCOMPARE(updates.first().status, TaskStatus::processing);
        QCOMPARE(updates.first().destinationURL, std::nullopt);
        if (verified)
            QCOMPARE(updates.at(1).status, TaskStatus::verifying);
        QCOMPARE(updates.last(), done);

        const QString output = stem + (taken.isEmpty() ? u".jxl"_s : u" (1).jxl"_s);
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(output));
        QCOMPARE(done.compressedSize, QFileInfo(output).size());
        QVERIFY(done.savedBytes() > 0 && done.duration.has_value());
        QCOMPARE(restored(output), original);
        QCOMPARE(QFileInfo(output).lastModified(), old);
        QCOMPARE(QFileInfo(output).permissions(), permissions);
        QCOMPARE(TestEnv::readAll(source), kept ? original : QByteArray());
        QCOMPARE(TestEnv::entries(m_work).size(), (kept ? 2 : 1) + (taken.isEmpty() ? 0 : 1));
        QCOMPARE(QFileInfo(stem + u".jxl"_s).isSymLink(), taken == u"link"_s);
        if (taken == u"file"_s) // (A re-run finding its numbered output: tst_archive.)
            QCOMPARE(TestEnv::readAll(stem + u".jxl"_s), QByteArray("somebody else's file"));
    }

    // One photo under three names that map to one output name run at once and race for it;
    // deleting the originals must keep each: every one gets an output of its own, though their
    // bytes are equal. (Two photos racing from two processes: tst_faults.)
    void sourcesRaceForOneOutputName()
    {
        const QStringList names{u"photo.jpg"_s, u"photo.jpeg"_s, u"photo.JPG"_s};
        std::vector<std::unique_ptr<FileJob>> jobs;
        std::vector<std::unique_ptr<QSignalSpy>> finished;
        QList<QByteArray> originals;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString source = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work, names.at(i));
            originals.append(TestEnv::readAll(source));
            jobs.push_back(std::make_unique<FileJob>(taskFor(source, ConversionMode::jpegToJXL),
                                                     settingsWith(DeleteStrategy::deleteImmediately)));
            finished.push_back(std::make_unique<QSignalSpy>(jobs.back().get(), &FileJob::finished));
        }
        for (const auto &job : jobs)
            job->start();
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(finished.begin(), finished.end(), [](const auto &spy) { return spy->size() == 1; }), 120000);
        QCOMPARE(TestEnv::entries(m_work), (QStringList{u"photo (1).jxl"_s, u"photo (2).jxl"_s, u"photo.jxl"_s}));
        QSet<QUrl> outputs;
        for (size_t i = 0; i < jobs.size(); ++i) {
            QCOMPARE(jobs[i]->task().status, TaskStatus::completed);
            outputs.insert(*jobs[i]->task().destinationURL);
            QCOMPARE(restored(jobs[i]->task().destinationURL->toLocalFile()), originals.at(qsizetype(i)));
        }
        QCOMPARE(outputs.size(), names.size());
    }

    // A restore counts as verified only when the rebuilt JPEG has the digest stored at
    // compression; djxl alone cannot tell (one flipped bit restores with exit 0 to other bytes).
    void restoreIsProvenByTheStoredDigest_data()
    {
        QTest::addColumn<QString>("damage");
        for (const char *damage : {"intact", "flipped bit", "no digest"})
            QTest::newRow(damage) << QString::fromLatin1(damage);
    }

    void restoreIsProvenByTheStoredDigest()
    {
        QFETCH(QString, damage);
        const QByteArray originalBytes = TestEnv::readAll(TestEnv::dataPath(u"jpeg/cameras/Canon_40D.jpg"_s));
        const QString jxl = m_work + u"/photo.jxl"_s;
        if (damage == u"no digest"_s) {
            TestEnv::copyData(u"jxl/from-jpeg.jxl"_s, m_work, u"photo.jxl"_s);
        } else {
            const QString source = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work, u"photo.jpg"_s);
            const TaskItem made = runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal));
            QCOMPARE(made.status, TaskStatus::completed);
            // The digest rides along outside the JXL, whose bytes are exactly cjxl's.
            QCOMPARE(TestEnv::readAll(jxl), TestEnv::readAll(compressed(source, m_root.filePath(u"direct.jxl"_s))));
            QVERIFY(QFile::remove(source));
        }
        if (damage == u"flipped bit"_s) {
            // In the middle of the compressed Exif box: djxl still exits 0.
            QFile file(jxl);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const QByteArray bytes = file.readAll();
            const qsizetype box = bytes.indexOf("brob") - 4;
            QVERIFY(box > 0);
            const qsizetype at = box + qFromBigEndian<quint32>(bytes.constData() + box) / 2;
            file.seek(at);
            file.write(QByteArray(1, char(bytes.at(at) ^ 0x10)));
            file.close();
            const QByteArray rebuilt = restored(jxl);
            QVERIFY(!rebuilt.isEmpty() && rebuilt != originalBytes);
        }
        const QByteArray jxlBytes = TestEnv::readAll(jxl);

        const TaskItem done = runJob(taskFor(jxl, ConversionMode::jxlToJPEG), settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.isVerified, damage == u"intact"_s);
        if (damage == u"flipped bit"_s) {
            QCOMPARE(done.status, TaskStatus::failed);
            QVERIFY2(done.errorMessage->startsWith(u"无损校验未通过: 还原出的 JPEG 与压缩时记录的原文件不一致"_s),
                     qPrintable(*done.errorMessage));
            QCOMPARE(TestEnv::readAll(jxl), jxlBytes);
            QCOMPARE(TestEnv::entries(m_work), QStringList{u"photo.jxl"_s});
            return;
        }
        QCOMPARE(done.status, TaskStatus::completed);
        QCOMPARE(TestEnv::readAll(m_work + u"/photo.jpg"_s), originalBytes);
        // Unproven, though most likely right: the JXL may be the only lossless copy, so it stays.
        QCOMPARE(done.warning.has_value(), damage == u"no digest"_s);
        QCOMPARE(TestEnv::readAll(jxl), damage == u"intact"_s ? QByteArray() : jxlBytes);
        QCOMPARE(TestEnv::entries(m_work).size(), damage == u"intact"_s ? 1 : 2);
    }

    // A 0600 photo is never readable by others through a copy, not even for a moment.
    void copiesKeepTheSourcesPermissions()
    {
        const QString source = TestEnv::copyData(u"jpeg/cameras/Canon_40D.jpg"_s, m_work);
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0600), 0);
        const QByteArray log = QFile::encodeName(m_root.filePath(u"modes%1.txt"_s.arg(m_case)));
        AppSettings settings = settingsWith(DeleteStrategy::keepOriginal);
        settings.verifyLossless = true;
        settings.customCjxlPath = script(u"mode-cjxl"_s, "stat -c %a \"$2\" >> '" + log + "'; exec cjxl \"$@\"");
        settings.customDjxlPath = script(u"mode-djxl"_s, "stat -c %a \"$2\" >> '" + log + "'; stat -c '%a %n' \"$(dirname \"$2\")\" >> '"
                                                              + log + "'; exec djxl \"$@\"");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::completed);
        const QList<QByteArray> modes = TestEnv::readAll(QFile::decodeName(log)).split('\n');
        QCOMPARE(modes.size(), 4);
        QCOMPARE(modes.at(0), QByteArray("600")); // the temporary output as cjxl got it
        QCOMPARE(modes.at(1), QByteArray("600")); // the verification copy as djxl got it
        const QString tmp = m_root.filePath(u"tmp"_s);
        QVERIFY2(modes.at(2).startsWith(QByteArray("700 " + QFile::encodeName(tmp) + "/pikora-")), modes.at(2).constData());
        QCOMPARE(TestEnv::entries(tmp), QStringList());
    }

    // Temporaries name their owner; only those whose owner is surely dead are removed.
    void leftoversOfDeadOwnersOnly()
    {
        const QString host = ProcessOwner::ownTag().section(u'-', 0, 0);
        QProcess finished;
        finished.start(u"sh"_s, {u"-c"_s, u"echo $$"_s});
        QVERIFY(finished.waitForFinished());
        const qint64 deadPid = finished.readAllStandardOutput().trimmed().toLongLong();
        QVERIFY(deadPid > 0);
        QProcess sleeper;
        sleeper.start(u"sleep"_s, {u"60"_s});
        QVERIFY(sleeper.waitForStarted());
        const QByteArray stat = TestEnv::readAll(u"/proc/%1/stat"_s.arg(sleeper.processId()));
        const QByteArray sleeperStart = stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(19);
        QVERIFY(!sleeperStart.isEmpty());

        const auto tagged = [&](const QString &owner) { return u".pikora-%1-0123abcd.part.jxl"_s.arg(owner); };
        const QString otherHost = host == u"00000000"_s ? u"11111111"_s : u"00000000"_s;
        const QString live = tagged(u"%1-%2-%3"_s.arg(host).arg(sleeper.processId()).arg(QLatin1String(sleeperStart)));
        const QList<std::tuple<QString, bool, bool>> leftovers{ // name, two days old, kept
            {tagged(u"%1-%2-12345"_s.arg(host).arg(deadPid)), false, false},
            {tagged(u"%1-%2-1"_s.arg(host).arg(sleeper.processId())), false, false}, // the pid now runs another process
            {live, false, true},
            {QFileInfo(OutputFiles::temporarySibling(m_work + u"/a.jxl"_s)).fileName(), false, true}, // this process's
            {tagged(otherHost + u"-42-42"_s), false, true},
            {tagged(otherHost + u"-43-43"_s).replace(u".jxl"_s, u".jpg"_s), true, false},
            {u".pikora-0123456789ab.part.jxl"_s, true, false}, // untagged: by age alone
            {u".pikora-notes.part.txt"_s, true, true}};
        // A link named for a dead owner is not followed to the live file it names.
        const QString deadLink = tagged(u"%1-%2-54321"_s.arg(host).arg(deadPid));
        QStringList kept{deadLink};
        for (const auto &[name, old, stays] : leftovers) {
            TestEnv::writeAll(m_work + u'/' + name, "partial");
            QFile file(m_work + u'/' + name);
            if (old)
                QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime));
            if (stays)
                kept.append(name);
        }
        QVERIFY(QFile::link(m_work + u'/' + live, m_work + u'/' + deadLink));
        QCOMPARE(OutputFiles::removeDeadLeftovers(m_work), 4);
        kept.sort();
        QCOMPARE(TestEnv::entries(m_work), kept);
        sleeper.kill();
        sleeper.waitForFinished();
    }

    // Jobs that cannot prove their output keep their source as it was and say why first: whatever
    // the encoder said, a JXL that cannot give back the JPEG (djxl would encode pixels with exit 0),
    // and contents under a .jpg name that are no JPEG, refused by their first bytes before any tool.
    void aJobThatCannotBeProvenKeepsItsSource_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("file"); // from the test data; or a name in the case folder, with bytes
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("cjxl"); // empty: the real tools
        QTest::addColumn<QByteArray>("djxl");
        QTest::addColumn<int>("strategy");
        QTest::addColumn<QString>("message"); // how it starts; %1 is the case folder, %2 the source
        const int jpeg = int(ConversionMode::jpegToJXL);
        const int jxl = int(ConversionMode::jxlToJPEG);
        const int remove = int(DeleteStrategy::deleteImmediately);
        const int keep = int(DeleteStrategy::keepOriginal);
        const QString canon = u"jpeg/cameras/Canon_40D.jpg"_s;
        const auto compress = [&](const char *tag, const QByteArray &cjxl, const QByteArray &djxl, int strategy, const QString &message) {
            QTest::newRow(tag) << jpeg << canon << QByteArray() << cjxl << djxl << strategy << message;
        };
        // cjxl exits 0, but djxl gives back other bytes: only the byte comparison catches it.
        QTest::newRow("silent mismatch") << jpeg << u"jpeg/silent-mismatch/restart-zero-padding.jpg"_s << QByteArray() << QByteArray()
                                         << QByteArray() << remove << u"无损校验未通过: 哈希比对不一致 (原文件: "_s;
        compress("success without output", "exit 0", {}, remove, u"找不到指定文件: "_s);
        compress("killed mid-write", "head -c 5000 /dev/urandom > \"$2\"; kill -9 $$", {}, remove, u"cjxl 被强制终止 (信号 9, SIGKILL)"_s);
        compress("volume full", "printf 'Could not close file\\nError: No space left on device' >&2; exit 1", {}, remove,
                 u"磁盘空间已满，无法写入 %1 (cjxl 运行出错 (代码 1): Could not close file\nError: No space left on device)"_s);
        for (const auto &[tag, file, strategy] : {std::tuple{"bare codestream", "pixels-only-codestream", keep},
                                                  std::tuple{"container without jbrd", "from-jpeg-no-reconstruction", remove}})
            compress(tag, "cp '" + QFile::encodeName(TestEnv::dataPath(u"jxl/%1.jxl"_s.arg(QLatin1String(file)))) + "' \"$2\"", {}, strategy,
                     u"新生成的 JXL 不含 JPEG 重建数据，无法还原出原文件，已删除；原文件保持不变"_s);
        compress("fresh output djxl cannot read", {}, "echo 'JxlDecoderProcessInput failed' >&2; exit 1", remove,
                 u"无损校验未通过：新生成的 JXL 无法还原，已删除；原文件保持不变 (djxl 运行出错 (代码 1): JxlDecoderProcessInput failed)"_s);

        const QString refused = u"文件格式不匹配，预期为: 由 JPEG 无损转换的 JXL"_s;
        for (const char *file : {"from-jpeg-no-reconstruction", "pixels-only-container"})
            QTest::newRow(file) << jxl << u"jxl/%1.jxl"_s.arg(QLatin1String(file)) << QByteArray() << QByteArray() << QByteArray() << remove << refused;
        QTest::newRow("pixel fallback reported by djxl")
            << jxl << u"jxl/from-jpeg.jxl"_s << QByteArray() << QByteArray()
            << QByteArray("echo 'could not decode losslessly to JPEG. Retrying with --pixels_to_jpeg' >&2; printf x > \"$2\"") << remove
            << refused;
        QTest::newRow("damaged") << jxl << u"jxl/truncated.jxl"_s << QByteArray() << QByteArray() << QByteArray() << remove
                                 << u"JXL 文件已损坏，无法还原 (djxl 运行出错 (代码 "_s;
        // Missing is not "without reconstruction data".
        QTest::newRow("missing") << jxl << u"gone.jxl"_s << QByteArray() << QByteArray() << QByteArray() << remove << u"找不到指定文件: %2"_s;

        const auto content = [&](const char *tag, const QByteArray &bytes, const QString &message) {
            QTest::newRow(tag) << jpeg << u"photo.jpg"_s << bytes << QByteArray("exit 99") << QByteArray() << keep << message;
        };
        for (const auto &[tag, bytes, format] : TestEnv::notJpegFiles())
            content(tag, bytes, u"此文件不是 JPEG 图像，而是 %1 图像（扩展名与内容不符）"_s.arg(QLatin1String(format)));
        content("unknown", "just some text, no picture at all", u"此文件不是 JPEG 图像（无法识别其内容）"_s);
        content("empty", "", u"此文件不是 JPEG 图像（文件是空的）"_s);
        const QByteArray behind = TestEnv::readAll(TestEnv::dataPath(u"jpeg/unsupported/leading-garbage.jpg"_s));
        content("JPEG behind other bytes", behind,
                u"此文件开头有 %1 字节多余数据，不是标准的 JPEG 文件。"_s.arg(behind.indexOf("\xFF\xD8\xFF")));
    }

    void aJobThatCannotBeProvenKeepsItsSource()
    {
        QFETCH(int, mode);
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, cjxl);
        QFETCH(QByteArray, djxl);
        QFETCH(int, strategy);
        QFETCH(QString, message);
        const QString source = m_work + u'/' + QFileInfo(file).fileName();
        if (file.contains(u'/'))
            TestEnv::copyData(file, m_work);
        else if (file != u"gone.jxl"_s)
            TestEnv::writeAll(source, bytes);
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy(strategy));
        settings.customCjxlPath = script(u"fake-cjxl"_s, cjxl);
        settings.customDjxlPath = script(u"fake-djxl"_s, djxl);
        const TaskItem done = runJob(taskFor(source, ConversionMode(mode)), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY2(done.errorMessage->startsWith(QString(message).replace(u"%1"_s, m_work).replace(u"%2"_s, source)), qPrintable(*done.errorMessage));
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QFileInfo::exists(source) ? QStringList{QFileInfo(source).fileName()} : QStringList());
        QCOMPARE(TestEnv::entries(m_root.filePath(u"tmp"_s)), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
