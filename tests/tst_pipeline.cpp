#include "engine/filejob.h"
#include "engine/toolcommands.h"
#include "engine/outputfiles.h"
#include "platform/processowner.h"
#include "engineruns.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>
#include <sys/stat.h>
#include <sys/xattr.h>

using EngineRuns::settingsWith;
using EngineRuns::taskFor;
using EngineRuns::runJob;
using TestEnv::notJpegFiles;

// One file's conversion end to end, with the real tools on real photos and fake tools for
// the failures. Every dangerous case checks that no original is lost.
class TestPipeline final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_work;
    int m_case = 0;

    // Runs djxl on a JXL and returns what it rebuilt.
    QByteArray restored(const QString &jxl)
    {
        return EngineRuns::restored(jxl, m_root.filePath(QStringLiteral("check.jpg")));
    }

    static QStringList trashed()
    {
        return QDir(QDir::homePath() + QStringLiteral("/.local/share/Trash/files")).entryList(QDir::Files);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.filePath(QStringLiteral("user")));
        TestEnv::isolateTemporaries(m_root.filePath(QStringLiteral("tmp")));
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl/djxl are not installed");
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QDir().mkpath(m_work);
    }

    void compressKeepsTheOriginal()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work,
                                                 QStringLiteral("IMG_1.JPEG"));
        ::chmod(QFile::encodeName(source).constData(), 0640);
        const QDateTime old = QDateTime(QDate(2011, 5, 4), QTime(3, 2, 1));
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(old, QFileDevice::FileModificationTime));
        }
        const QByteArray original = TestEnv::readAll(source);

        QList<TaskItem> updates;
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal),
                                  &updates);
        QCOMPARE(done.status, TaskStatus::completed);
        QCOMPARE(updates.size(), 2);
        QCOMPARE(updates.first().status, TaskStatus::processing);
        QCOMPARE(updates.first().destinationURL, std::nullopt);
        QCOMPARE(updates.last(), done);

        const QString output = m_work + QStringLiteral("/IMG_1.jxl");
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(output));
        QCOMPARE(done.compressedSize, QFileInfo(output).size());
        QVERIFY(done.savedBytes() > 0);
        QVERIFY(done.duration.has_value());
        QVERIFY(!done.isVerified); // nothing is disposed of, so nothing was verified
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(restored(output), original);
        QCOMPARE(QFileInfo(output).lastModified(), old);
        QCOMPARE(QFileInfo(output).permissions(), QFileInfo(source).permissions());
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("IMG_1.JPEG"), QStringLiteral("IMG_1.jxl")}));
    }

    // Whenever the original goes (or verification is asked for), the output is verified first.
    void verifiedBeforeDisposal_data()
    {
        QTest::addColumn<int>("strategy");
        QTest::addColumn<bool>("verifyLossless");
        QTest::newRow("delete") << int(DeleteStrategy::deleteImmediately) << false;
        QTest::newRow("trash") << int(DeleteStrategy::moveToTrash) << false;
        QTest::newRow("keep, verify on") << int(DeleteStrategy::keepOriginal) << true;
    }

    void verifiedBeforeDisposal()
    {
        QFETCH(int, strategy);
        QFETCH(bool, verifyLossless);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/odd-but-lossless/progressive.jpg"), m_work,
                                                 QStringLiteral("my photo %1.jpg").arg(m_case));
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy(strategy));
        settings.verifyLossless = verifyLossless;
        QList<TaskItem> updates;
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings, &updates);
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        QCOMPARE(updates.size(), 3);
        QCOMPARE(updates.at(1).status, TaskStatus::verifying);
        QCOMPARE(restored(done.destinationURL->toLocalFile()), original);
        QCOMPARE(QFile::exists(source), DeleteStrategy(strategy) == DeleteStrategy::keepOriginal);
        QCOMPARE(trashed().contains(QFileInfo(source).fileName()), DeleteStrategy(strategy) == DeleteStrategy::moveToTrash);
    }

    // cjxl exits 0, but djxl gives back other bytes: only the byte comparison catches it.
    void silentMismatchNeverDeletesTheOriginal()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/silent-mismatch/restart-zero-padding.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY(done.errorMessage->startsWith(QStringLiteral("无损校验未通过: 哈希比对不一致 (原文件: ")));
        QVERIFY(!done.isVerified);
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("restart-zero-padding.jpg")});
        QCOMPARE(TestEnv::entries(m_root.filePath(QStringLiteral("tmp"))), QStringList());
    }

    // Sources that map to one output name run at once and race for it; deleting the originals
    // must keep every photo: each gets an output of its own, even where their bytes are equal.
    void sourcesRaceForOneOutputName_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("photos");
        const QString canon = QStringLiteral("Canon_40D.jpg");
        QTest::newRow("two photos") << QStringList{QStringLiteral("photo.jpg"), QStringLiteral("photo.jpeg")}
                                    << QStringList{canon, QStringLiteral("Sony_HDR-HC3.jpg")};
        QTest::newRow("one photo under three names")
            << QStringList{QStringLiteral("photo.jpg"), QStringLiteral("photo.jpeg"), QStringLiteral("photo.JPG")}
            << QStringList{canon, canon, canon};
    }

    void sourcesRaceForOneOutputName()
    {
        QFETCH(QStringList, names);
        QFETCH(QStringList, photos);
        std::vector<std::unique_ptr<FileJob>> jobs;
        std::vector<std::unique_ptr<QSignalSpy>> finished;
        QList<QByteArray> originals;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/") + photos.at(i), m_work, names.at(i));
            originals.append(TestEnv::readAll(source));
            jobs.push_back(std::make_unique<FileJob>(taskFor(source, ConversionMode::jpegToJXL),
                                                     settingsWith(DeleteStrategy::deleteImmediately)));
            finished.push_back(std::make_unique<QSignalSpy>(jobs.back().get(), &FileJob::finished));
        }
        for (const auto &job : jobs)
            job->start();
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(finished.begin(), finished.end(), [](const auto &spy) { return spy->size() == 1; }),
                                 120000);
        QStringList expected{QStringLiteral("photo.jxl")};
        for (qsizetype n = 1; n < names.size(); ++n)
            expected.append(QStringLiteral("photo (%1).jxl").arg(n));
        expected.sort();
        QCOMPARE(TestEnv::entries(m_work), expected);
        QSet<QUrl> outputs;
        for (size_t i = 0; i < jobs.size(); ++i) {
            QCOMPARE(jobs[i]->task().status, TaskStatus::completed);
            outputs.insert(*jobs[i]->task().destinationURL);
            QCOMPARE(restored(jobs[i]->task().destinationURL->toLocalFile()), originals.at(qsizetype(i)));
        }
        QCOMPARE(outputs.size(), names.size());
    }

    void anExistingOutputIsNeverReplaced()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Kodak_CX7530.jpg"), m_work);
        const QString taken = m_work + QStringLiteral("/Kodak_CX7530.jxl");
        TestEnv::writeAll(taken, "somebody else's file");
        const TaskItem first = runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal));
        QCOMPARE(first.status, TaskStatus::completed);
        QCOMPARE(TestEnv::readAll(taken), QByteArray("somebody else's file"));
        QCOMPARE(first.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/Kodak_CX7530 (1).jxl")));

        // The same conversion again finds its own output there and leaves it as it is.
        TaskItem again = taskFor(source, ConversionMode::jpegToJXL);
        again.destinationURL = first.destinationURL;
        const TaskItem second = runJob(again, settingsWith(DeleteStrategy::keepOriginal));
        QCOMPARE(second.status, TaskStatus::skipped);
        QCOMPARE(second.destinationURL, first.destinationURL);
        QCOMPARE(TestEnv::entries(m_work).size(), 3);
    }

    // A restore counts as verified only when the rebuilt JPEG has the digest stored at
    // compression; djxl alone cannot tell (one flipped bit restores with exit 0 to other bytes).
    void restoreIsProvenByTheStoredDigest_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("intact") << QStringLiteral("intact");
        QTest::newRow("one flipped bit") << QStringLiteral("flipped bit");
        QTest::newRow("no stored digest") << QStringLiteral("no digest");
    }

    void restoreIsProvenByTheStoredDigest()
    {
        QFETCH(QString, damage);
        const QString original = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        const QByteArray originalBytes = TestEnv::readAll(original);
        const QString jxl = m_work + QStringLiteral("/photo.jxl");
        if (damage == QStringLiteral("no digest")) {
            TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work, QStringLiteral("photo.jxl"));
        } else {
            const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work,
                                                     QStringLiteral("photo.jpg"));
            QCOMPARE(runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal)).status,
                     TaskStatus::completed);
            QVERIFY(QFile::remove(source));
        }
        if (damage == QStringLiteral("flipped bit")) {
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
        const QString output = m_work + QStringLiteral("/photo.jpg");
        if (damage == QStringLiteral("intact")) {
            QCOMPARE(done.status, TaskStatus::completed);
            QVERIFY(done.isVerified);
            QCOMPARE(done.warning, std::nullopt);
            QCOMPARE(TestEnv::readAll(output), originalBytes);
            QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("photo.jpg")});
        } else if (damage == QStringLiteral("flipped bit")) {
            QCOMPARE(done.status, TaskStatus::failed);
            QVERIFY2(done.errorMessage->startsWith(QStringLiteral("无损校验未通过: 还原出的 JPEG 与压缩时记录的原文件不一致")),
                     qPrintable(*done.errorMessage));
            QVERIFY(!done.isVerified);
            QCOMPARE(TestEnv::readAll(jxl), jxlBytes);
            QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("photo.jxl")});
        } else {
            // Most likely right, but unproven: the JXL may be the only lossless copy, so it stays.
            QCOMPARE(done.status, TaskStatus::completed);
            QVERIFY(!done.isVerified);
            QVERIFY(done.warning.has_value());
            QCOMPARE(TestEnv::readAll(output), originalBytes);
            QCOMPARE(TestEnv::readAll(jxl), jxlBytes);
        }
    }

    // The digest rides along as an extended attribute; the JXL's bytes are exactly cjxl's.
    void compressionStoresTheSourceDigest()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Sony_HDR-HC3.jpg"), m_work);
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::keepOriginal));
        QCOMPARE(done.status, TaskStatus::completed);
        const QByteArray output = QFile::encodeName(done.destinationURL->toLocalFile());
        char value[128] = {};
        const ssize_t size = getxattr(output.constData(), "user.pikora.sha256", value, sizeof value);
        QCOMPARE(QByteArray(value, int(qMax<ssize_t>(size, 0))),
                 QCryptographicHash::hash(TestEnv::readAll(source), QCryptographicHash::Sha256).toHex());

        const QString direct = m_root.filePath(QStringLiteral("direct.jxl"));
        QProcess cjxl;
        cjxl.start(QStringLiteral("cjxl"), ToolCommands::cjxlArguments(source, direct, 3));
        QVERIFY(cjxl.waitForFinished(60000) && cjxl.exitCode() == 0);
        QCOMPARE(TestEnv::readAll(QFile::decodeName(output)), TestEnv::readAll(direct));
    }

    // x.jxl is a link to an identical file elsewhere: deleting x.jpg would leave the photo in a
    // file that is not ours to keep.
    void aLinkIsNeverTakenAsTheOutput()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("x.jpg"));
        const QByteArray original = TestEnv::readAll(source);
        const QString elsewhere = m_root.filePath(QStringLiteral("elsewhere%1.jxl").arg(m_case));
        QProcess cjxl;
        cjxl.start(QStringLiteral("cjxl"), ToolCommands::cjxlArguments(source, elsewhere, 3));
        QVERIFY(cjxl.waitForFinished(60000) && cjxl.exitCode() == 0);
        const QString link = m_work + QStringLiteral("/x.jxl");
        QVERIFY(QFile::link(elsewhere, link));

        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::completed);
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/x (1).jxl")));
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(!QFile::exists(source));
        QCOMPARE(restored(done.destinationURL->toLocalFile()), original);
    }

    // A 0600 photo is never readable by others through a copy, not even for a moment.
    void copiesKeepTheSourcesPermissions()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        QCOMPARE(::chmod(QFile::encodeName(source).constData(), 0600), 0);
        const QByteArray log = QFile::encodeName(m_root.filePath(QStringLiteral("modes%1.txt").arg(m_case)));
        AppSettings settings = settingsWith(DeleteStrategy::keepOriginal);
        settings.verifyLossless = true;
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("mode-cjxl")),
                                                       "stat -c %a \"$2\" >> '" + log + "'; exec cjxl \"$@\"");
        settings.customDjxlPath = TestEnv::writeScript(
            m_root.filePath(QStringLiteral("mode-djxl")),
            "stat -c %a \"$2\" >> '" + log + "'; stat -c '%a %n' \"$(dirname \"$2\")\" >> '" + log + "'; exec djxl \"$@\"");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::completed);
        QVERIFY(done.isVerified);
        const QList<QByteArray> modes = TestEnv::readAll(QFile::decodeName(log)).split('\n');
        QCOMPARE(modes.size(), 4);
        QCOMPARE(modes.at(0), QByteArray("600")); // the temporary output as cjxl got it
        QCOMPARE(modes.at(1), QByteArray("600")); // the verification copy as djxl got it
        const QString tmp = m_root.filePath(QStringLiteral("tmp"));
        QVERIFY2(modes.at(2).startsWith(QByteArray("700 " + QFile::encodeName(tmp) + "/pikora-")), modes.at(2).constData());
        QCOMPARE(QDir(tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }

    // Temporaries name their owner; only those whose owner is surely dead are removed.
    void leftoversOfDeadOwnersOnly()
    {
        const QString host = ProcessOwner::ownTag().section(QLatin1Char('-'), 0, 0);
        const auto startOf = [](qint64 pid) {
            const QByteArray stat = TestEnv::readAll(QStringLiteral("/proc/%1/stat").arg(pid));
            return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(19);
        };
        QProcess finished;
        finished.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("echo $$")});
        QVERIFY(finished.waitForFinished());
        const qint64 deadPid = finished.readAllStandardOutput().trimmed().toLongLong();
        QVERIFY(deadPid > 0);
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(sleeper.waitForStarted());
        const QByteArray sleeperStart = startOf(sleeper.processId());
        QVERIFY(!sleeperStart.isEmpty());

        const auto tagged = [&](const QString &owner) { return QStringLiteral(".pikora-%1-0123abcd.part.jxl").arg(owner); };
        const QString dead = tagged(QStringLiteral("%1-%2-12345").arg(host).arg(deadPid));
        const QString reusedPid = tagged(QStringLiteral("%1-%2-1").arg(host).arg(sleeper.processId()));
        const QString live = tagged(QStringLiteral("%1-%2-%3").arg(host).arg(sleeper.processId()).arg(QLatin1String(sleeperStart)));
        const QString mine = QFileInfo(OutputFiles::temporarySibling(m_work + QStringLiteral("/a.jxl"))).fileName();
        const QString otherHost = host == QStringLiteral("00000000") ? QStringLiteral("11111111") : QStringLiteral("00000000");
        const QString foreignFresh = tagged(otherHost + QStringLiteral("-42-42"));
        const QString foreignOld = tagged(otherHost + QStringLiteral("-43-43")).replace(QStringLiteral(".jxl"), QStringLiteral(".jpg"));
        const QString untaggedOld = QStringLiteral(".pikora-0123456789ab.part.jxl");
        const QString untaggedFresh = QStringLiteral(".pikora-ba9876543210.part.jxl");
        const QString unrelated = QStringLiteral(".pikora-notes.part.txt");
        const QString deadLink = tagged(QStringLiteral("%1-%2-54321").arg(host).arg(deadPid));
        for (const QString &name : {dead, reusedPid, live, mine, foreignFresh, foreignOld, untaggedOld, untaggedFresh, unrelated})
            TestEnv::writeAll(m_work + QLatin1Char('/') + name, "partial");
        QVERIFY(QFile::link(m_work + QLatin1Char('/') + live, m_work + QLatin1Char('/') + deadLink));
        const QDateTime twoDaysAgo = QDateTime::currentDateTime().addDays(-2);
        for (const QString &name : {foreignOld, untaggedOld, unrelated}) {
            QFile file(m_work + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(twoDaysAgo, QFileDevice::FileModificationTime));
        }

        QCOMPARE(OutputFiles::removeDeadLeftovers(m_work), 4);
        QStringList kept{live, mine, foreignFresh, untaggedFresh, unrelated, deadLink};
        kept.sort();
        QCOMPARE(QDir(m_work).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 kept);
        sleeper.kill();
        sleeper.waitForFinished();
    }

    // A run killed mid-job leaves its temporary; the next run in that folder removes it.
    void aKilledRunsLeftoverGoesWithTheNextRun()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work, QStringLiteral("photo.jpg"));
        const QString pidFile = m_root.filePath(QStringLiteral("stuck-tool.pid"));
        const QString stuck = TestEnv::writeScript(m_root.filePath(QStringLiteral("stuck-cjxl")),
                                                   "echo $$ > '" + QFile::encodeName(pidFile)
                                                       + "'; head -c 5000 /dev/zero > \"$2\"; exec sleep 60");
        QProcess killed;
        killed.start(QStringLiteral(PIKORA_CLI_PATH), {QStringLiteral("compress"), QStringLiteral("--cjxl"), stuck, source});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(pidFile) && TestEnv::entries(m_work).size() == 2, 20000);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QVERIFY(killed.waitForFinished());
        ::kill(pid_t(TestEnv::readAll(pidFile).trimmed().toInt()), SIGKILL); // in case the tool outlived it
        const QStringList left = TestEnv::entries(m_work);
        QCOMPARE(left.size(), 2);
        QVERIFY(OutputFiles::isTemporaryName(left.first()));

        QProcess next;
        next.start(QStringLiteral(PIKORA_CLI_PATH), {QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("3"), source});
        QVERIFY(next.waitForFinished(60000));
        QCOMPARE(next.exitCode(), 0);
        QCOMPARE(TestEnv::entries(m_work), (QStringList{QStringLiteral("photo.jpg"), QStringLiteral("photo.jxl")}));
    }

    // djxl turns these into newly encoded JPEGs with exit 0; deleting the JXL would lose the photo.
    void restoreRefusesJXLWithoutReconstructionData_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("no jbrd") << QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl");
        QTest::newRow("codestream") << QStringLiteral("jxl/pixels-only-codestream.jxl");
        QTest::newRow("pixels container") << QStringLiteral("jxl/pixels-only-container.jxl");
    }

    void restoreRefusesJXLWithoutReconstructionData()
    {
        QFETCH(QString, file);
        const QString source = TestEnv::copyData(file, m_work);
        const TaskItem done = runJob(taskFor(source, ConversionMode::jxlToJPEG),
                                  settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("文件格式不匹配，预期为: 由 JPEG 无损转换的 JXL"));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QFileInfo(source).fileName()});
    }

    void restoreRefusesAPixelFallbackReportedByTheTool()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), m_work);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customDjxlPath = TestEnv::writeScript(
            m_work + QStringLiteral("/../fallback-djxl"),
            "echo 'could not decode losslessly to JPEG. Retrying with --pixels_to_jpeg' >&2; printf x > \"$2\"");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jxlToJPEG), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("文件格式不匹配，预期为: 由 JPEG 无损转换的 JXL"));
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("from-jpeg.jxl")});
    }

    void fakeToolFailures_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("message");
        QTest::newRow("success without output") << QByteArray("exit 0") << QStringLiteral("找不到指定文件: ");
        QTest::newRow("killed mid-write") << QByteArray("head -c 5000 /dev/urandom > \"$2\"; kill -9 $$")
                                          << QStringLiteral("cjxl 被强制终止 (信号 9, SIGKILL)");
        // The tool's words come after the reason, which is said first.
        QTest::newRow("volume full") << QByteArray("printf 'Could not close file\\nError: No space left on device' >&2; exit 1")
                                     << QStringLiteral("磁盘空间已满，无法写入 %1 (cjxl 运行出错 (代码 1): Could not close file\n"
                                                       "Error: No space left on device)");
    }

    void fakeToolFailures()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, message);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customCjxlPath = TestEnv::writeScript(m_work + QStringLiteral("/../fake-cjxl"), script);
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        const QString expected = message.contains(QLatin1String("%1")) ? message.arg(m_work) : message;
        QVERIFY2(done.errorMessage->startsWith(expected), qPrintable(*done.errorMessage));
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }

    // Each of these under a .jpg name: cjxl would encode the pixels of most of them and report
    // success. The job refuses them by their first bytes, before any tool runs.
    void contentThatIsNoJpegIsNeverConverted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const auto named = [](const char *format) {
            return QStringLiteral("此文件不是 JPEG 图像，而是 %1 图像（扩展名与内容不符）").arg(QLatin1String(format));
        };
        for (const auto &[tag, bytes, format] : notJpegFiles())
            QTest::newRow(tag) << bytes << named(format);
        QTest::newRow("unknown") << QByteArray("just some text, no picture at all") << QStringLiteral("此文件不是 JPEG 图像（无法识别其内容）");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("此文件不是 JPEG 图像（文件是空的）");
        QTest::newRow("JPEG behind other bytes")
            << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/leading-garbage.jpg")))
            << QStringLiteral("此文件开头有 %1 字节多余数据，不是标准的 JPEG 文件。")
                   .arg(TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/leading-garbage.jpg")))
                            .indexOf("\xFF\xD8\xFF"));
    }

    void contentThatIsNoJpegIsNeverConverted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString source = m_work + QStringLiteral("/photo.jpg");
        TestEnv::writeAll(source, bytes);
        const QString runs = m_root.filePath(QStringLiteral("runs%1").arg(m_case));
        AppSettings settings = settingsWith(DeleteStrategy::keepOriginal);
        settings.customCjxlPath = TestEnv::writeScript(
            m_root.filePath(QStringLiteral("logging-cjxl%1").arg(m_case)),
            "echo ran >> '" + QFile::encodeName(runs) + "'\nexec '"
                + QFile::encodeName(TestEnv::installedTool(QStringLiteral("cjxl"))) + "' \"$@\"");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, message);
        QVERIFY(!done.compressedSize);
        QVERIFY(!QFile::exists(runs)); // no tool ran
        QCOMPARE(TestEnv::readAll(source), bytes);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("photo.jpg")});
    }

    // A fresh output that cannot give back the JPEG is removed, whatever the encoder said.
    void anOutputWithoutReconstructionDataIsRemoved_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("strategy");
        QTest::newRow("pixels in a container, originals kept")
            << QStringLiteral("jxl/pixels-only-container.jxl") << int(DeleteStrategy::keepOriginal);
        QTest::newRow("bare codestream, originals kept")
            << QStringLiteral("jxl/pixels-only-codestream.jxl") << int(DeleteStrategy::keepOriginal);
        QTest::newRow("container without jbrd, originals deleted")
            << QStringLiteral("jxl/from-jpeg-no-reconstruction.jxl") << int(DeleteStrategy::deleteImmediately);
    }

    void anOutputWithoutReconstructionDataIsRemoved()
    {
        QFETCH(QString, output);
        QFETCH(int, strategy);
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy(strategy));
        settings.customCjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("pixel-cjxl%1").arg(m_case)),
                                                       "cp '" + QFile::encodeName(TestEnv::dataPath(output)) + "' \"$2\"");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("新生成的 JXL 不含 JPEG 重建数据，无法还原出原文件，已删除；原文件保持不变"));
        QVERIFY(!done.isVerified);
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }

    // djxl cannot read what cjxl has just written: the proof fails, the output goes, the original stays.
    void aFreshOutputThatCannotBeRestored()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_work);
        const QByteArray original = TestEnv::readAll(source);
        AppSettings settings = settingsWith(DeleteStrategy::deleteImmediately);
        settings.customDjxlPath = TestEnv::writeScript(m_root.filePath(QStringLiteral("failing-djxl%1").arg(m_case)),
                                                       "echo 'JxlDecoderProcessInput failed' >&2; exit 1");
        const TaskItem done = runJob(taskFor(source, ConversionMode::jpegToJXL), settings);
        QCOMPARE(done.status, TaskStatus::failed);
        QCOMPARE(*done.errorMessage, QStringLiteral("无损校验未通过：新生成的 JXL 无法还原，已删除；原文件保持不变 "
                                                    "(djxl 运行出错 (代码 1): JxlDecoderProcessInput failed)"));
        QCOMPARE(TestEnv::readAll(source), original);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("Canon_40D.jpg")});
    }

    // The real djxl on half a file: our words first, the decoder's after them.
    void aDamagedJXLSaysSoFirst()
    {
        const QString source = TestEnv::copyData(QStringLiteral("jxl/truncated.jxl"), m_work);
        const QByteArray before = TestEnv::readAll(source);
        const TaskItem done = runJob(taskFor(source, ConversionMode::jxlToJPEG), settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(done.status, TaskStatus::failed);
        QVERIFY2(done.errorMessage->startsWith(QStringLiteral("JXL 文件已损坏，无法还原 (djxl 运行出错 (代码 ")),
                 qPrintable(*done.errorMessage));
        QVERIFY(done.errorMessage->endsWith(QLatin1Char(')')));
        QCOMPARE(TestEnv::readAll(source), before);
        QCOMPARE(TestEnv::entries(m_work), QStringList{QStringLiteral("truncated.jxl")});
    }

    // A missing JXL is reported as missing, not as one without reconstruction data.
    void missingSourceToRestore()
    {
        const QString gone = m_work + QStringLiteral("/gone.jxl");
        const TaskItem done = runJob(taskFor(gone, ConversionMode::jxlToJPEG), settingsWith(DeleteStrategy::deleteImmediately));
        QCOMPARE(*done.errorMessage, QStringLiteral("找不到指定文件: ") + gone);
        QCOMPARE(done.destinationURL, QUrl::fromLocalFile(m_work + QStringLiteral("/gone.jpg")));
    }
};

QTEST_GUILESS_MAIN(TestPipeline)
#include "tst_pipeline.moc"
