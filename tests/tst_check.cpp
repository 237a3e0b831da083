#include "engine/archivecheck.h"
#include "engine/boxwalker.h"
#include "engine/bytesource.h"
#include "engine/filedigest.h"
#include "platform/extendedattributes.h"
#include "clirun.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

// pikora-cli check on real JPEG XL files, whole and damaged: verdicts, exit statuses, the
// remembered good check and --older-than, and that nothing is left beside the files or in /tmp.
class TestCheck final : public QObject
{
    Q_OBJECT

public:
    enum class Damage { none, flipCodestream, flipReconstruction, truncateHalf, truncateEarly };
    Q_ENUM(Damage)

private:
    QTemporaryDir m_root;
    QString m_temporaries;
    QString m_work;
    int m_case = 0;
    // A good check stored long ago: one that must survive every verdict but ok.
    static constexpr char kOldCheck[] = "2020-01-01T00:00:00.000Z";

    static void setAttribute(const QString &path, const char *name, const QByteArray &value)
    {
        QCOMPARE(::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0), 0);
    }

    // Files and folders alike: a private folder left behind is a leftover too.
    static QStringList entries(const QString &folder)
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }

    static QByteArray checkedOf(const QString &path)
    {
        return ExtendedAttributes::read(path, ArchiveCheck::kCheckedAttribute).value_or(QByteArray());
    }

    static void setModified(const QString &path, const QDateTime &time)
    {
        const qint64 ms = time.toMSecsSinceEpoch();
        const struct timespec times[2] = {{ms / 1000, 0}, {ms / 1000, (ms % 1000) * 1'000'000}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    }

    // Damages a copy the way a disk or a transfer would: a flipped bit in the middle of a box, or an end cut off.
    static void damage(const QString &path, Damage how)
    {
        QByteArray bytes = TestEnv::readAll(path);
        const auto middleOf = [&bytes](const QByteArray &type) {
            qint64 middle = -1; // of the last such box: the codestream's last part holds the pixels
            BoxWalker::walk(ByteSource(bytes), 12, [&](const BoxWalker::Box &box) {
                if (box.type == type)
                    middle = (box.payloadOffset + box.end) / 2;
                return true;
            });
            return middle;
        };
        const qint64 at = how == Damage::flipCodestream ? middleOf("jxlp") : middleOf("jbrd");
        if (how == Damage::truncateHalf || how == Damage::truncateEarly)
            bytes.truncate(how == Damage::truncateHalf ? bytes.size() / 2 : 200);
        else if (how != Damage::none)
            bytes[at] = char(bytes.at(at) ^ 0x10);
        TestEnv::writeAll(path, bytes);
    }

    // A JXL from the test data, damaged as asked, storing the digest of a photo when one is named.
    QString archived(const QString &data, Damage how, const QString &digestOf, const QString &name = QString())
    {
        const QString path = TestEnv::copyData(QStringLiteral("jxl/") + data, m_work, name);
        damage(path, how);
        if (!digestOf.isEmpty())
            setAttribute(path, FileDigest::kAttribute,
                         FileDigest::sha256(TestEnv::dataPath(QStringLiteral("jpeg/cameras/") + digestOf))->toLatin1());
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_temporaries = TestEnv::isolateTemporaries(m_root.filePath(QStringLiteral("tmp")));
        if (TestEnv::installedTool(QStringLiteral("djxl")).isEmpty())
            QSKIP("djxl is not installed");
    }

    void init()
    {
        m_work = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QDir().mkpath(m_work);
    }

    void cleanup()
    {
        QCOMPARE(entries(m_temporaries), QStringList()); // no copy, no private folder
    }

    void verdicts_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("digestOf");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("strictExitCode");
        const QString jpeg = QStringLiteral("from-jpeg.jxl");
        const QString canon = QStringLiteral("Canon_40D.jpg");
        const QString damaged = QStringLiteral("damaged");
        QTest::newRow("intact") << jpeg << Damage::none << canon << QStringLiteral("ok") << QString() << 0 << 0;
        QTest::newRow("bit flipped in the codestream") << jpeg << Damage::flipCodestream << canon << damaged
                                                       << QStringLiteral("JXL 已损坏：") << 1 << 1;
        QTest::newRow("bit flipped in jbrd") << jpeg << Damage::flipReconstruction << canon << damaged
                                             << QStringLiteral("JXL 已损坏：") << 1 << 1;
        // djxl still exits 0 here, with a JPEG of new pixels: only its words tell.
        QTest::newRow("bit flipped in jbrd, no digest") << jpeg << Damage::flipReconstruction << QString() << damaged
                                                        << QStringLiteral("djxl 只能解码出像素（") << 1 << 1;
        QTest::newRow("truncated") << jpeg << Damage::truncateHalf << canon << damaged
                                   << QStringLiteral("djxl 无法还原它（Input file is truncated") << 1 << 1;
        QTest::newRow("truncated before jbrd") << jpeg << Damage::truncateEarly << QString() << damaged
                                               << QStringLiteral("文件不完整") << 1 << 1;
        QTest::newRow("digest of another photo") << jpeg << Damage::none << QStringLiteral("Nikon_D70.jpg") << damaged
                                                 << QStringLiteral("JXL 已损坏：还原结果与记录的原文件校验值不符") << 1 << 1;
        QTest::newRow("no digest") << jpeg << Damage::none << QString() << QStringLiteral("unproven")
                                   << QStringLiteral("没有记录原文件的校验值") << 0 << 1;
        for (const char *pixels : {"pixels-only-container.jxl", "pixels-only-codestream.jxl", "from-jpeg-no-reconstruction.jxl"})
            QTest::newRow(pixels) << QString::fromLatin1(pixels) << Damage::none << QString()
                                  << QStringLiteral("not-restorable") << QStringLiteral("只含像素") << 0 << 1;
        QTest::newRow("digest without jbrd") << QStringLiteral("from-jpeg-no-reconstruction.jxl") << Damage::none << canon
                                             << damaged << QStringLiteral("没有 JPEG 还原数据") << 1 << 1;
    }

    void verdicts()
    {
        QFETCH(QString, data);
        QFETCH(Damage, damage);
        QFETCH(QString, digestOf);
        QFETCH(QString, status);
        const QString file = archived(data, damage, digestOf);
        setAttribute(file, ArchiveCheck::kCheckedAttribute, kOldCheck);
        const QStringList beside = entries(m_work);
        const QDateTime began = QDateTime::currentDateTimeUtc().addMSecs(-1);

        const CliRun run = CliRun::run({QStringLiteral("check"), QStringLiteral("--json"), file});
        QTEST(run.exitCode, "exitCode");
        QCOMPARE(run.jobs().size(), 1);
        const QJsonObject job = run.jobs().constFirst();
        QCOMPARE(job.value(QStringLiteral("source")).toString(), file);
        QCOMPARE(job.value(QStringLiteral("status")).toString(), status);
        QFETCH(QString, message);
        QVERIFY2(job.value(QStringLiteral("error")).toString().contains(message) && message.isEmpty() == (status == QStringLiteral("ok")),
                 qPrintable(job.value(QStringLiteral("error")).toString()));
        // Only a good check is remembered, as the time it began.
        if (status == QStringLiteral("ok")) {
            const QDateTime checked = QDateTime::fromString(QString::fromLatin1(checkedOf(file)), Qt::ISODate);
            QVERIFY2(checked >= began && checked <= QDateTime::currentDateTimeUtc(), checkedOf(file).constData());
            QCOMPARE(job.value(QStringLiteral("checked")).toString().toLatin1(), checkedOf(file));
        } else {
            QCOMPARE(checkedOf(file), QByteArray(kOldCheck));
        }
        QCOMPARE(entries(m_work), beside);

        const CliRun strict = CliRun::run({QStringLiteral("check"), QStringLiteral("--strict"), QStringLiteral("-q"), file});
        QTEST(strict.exitCode, "strictExitCode");
        QCOMPARE(strict.out, QByteArray()); // -q: what fails the run goes to standard error, nothing else
        QCOMPARE(strict.err.isEmpty(), strict.exitCode == 0);
    }

    void olderThanSkipsOnlyFreshUnchangedChecks_data()
    {
        QTest::addColumn<int>("checkedHoursAgo");
        QTest::addColumn<int>("modifiedHoursAgo");
        QTest::addColumn<bool>("skipped");
        QTest::newRow("stale check") << 10 * 24 << 20 * 24 << false;
        QTest::newRow("fresh check") << 24 << 48 << true;
        QTest::newRow("changed after its check") << 48 << 1 << false;
        QTest::newRow("check stamped in the future") << -24 << 48 << false;
    }

    void olderThanSkipsOnlyFreshUnchangedChecks()
    {
        QFETCH(int, checkedHoursAgo);
        QFETCH(int, modifiedHoursAgo);
        QFETCH(bool, skipped);
        const QString file = archived(QStringLiteral("from-jpeg.jxl"), Damage::none, QStringLiteral("Canon_40D.jpg"));
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const QByteArray stored = now.addSecs(-3600 * checkedHoursAgo).toString(Qt::ISODateWithMs).toLatin1();
        setAttribute(file, ArchiveCheck::kCheckedAttribute, stored);
        setModified(file, now.addSecs(-3600 * modifiedHoursAgo));

        const QStringList arguments{QStringLiteral("check"), QStringLiteral("--older-than"), QStringLiteral("7"), m_work};
        const CliRun run = CliRun::run(QStringList(arguments) << QStringLiteral("--json"));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.jobs().size(), 1);
        const QJsonObject job = run.jobs().constFirst();
        QCOMPARE(job.value(QStringLiteral("status")).toString(), skipped ? QStringLiteral("skipped") : QStringLiteral("ok"));
        QCOMPARE(job.value(QStringLiteral("reason")).toString(), skipped ? QStringLiteral("checked-recently") : QString());
        QCOMPARE(checkedOf(file) == stored, skipped);
        if (skipped) {
            QCOMPARE(job.value(QStringLiteral("checked")).toString().toLatin1(), stored);
            const CliRun plain = CliRun::run(arguments);
            QVERIFY2(plain.out.contains("0 个完好，0 个已损坏，1 个已跳过，用时 "), plain.out.constData());
        }
    }

    void folderRunSummarisesAndQuietSaysOnlyTheDamage()
    {
        archived(QStringLiteral("from-jpeg.jxl"), Damage::none, QStringLiteral("Canon_40D.jpg"));
        archived(QStringLiteral("from-jpeg.jxl"), Damage::none, QStringLiteral("Nikon_D70.jpg"), QStringLiteral("sub/broken.jxl"));
        archived(QStringLiteral("pixels-only-container.jxl"), Damage::none, QString());
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Nikon_D70.jpg"), m_work); // not a JXL: not checked

        const CliRun run = CliRun::run({QStringLiteral("check"), QStringLiteral("-j"), QStringLiteral("2"), m_work});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains("\n1 个完好，1 个已损坏，1 个不可还原，用时 "), run.out.constData());
        const CliRun quiet = CliRun::run({QStringLiteral("check"), QStringLiteral("-q"), m_work});
        QCOMPARE(quiet.exitCode, 1);
        QCOMPARE(quiet.out, QByteArray());
        QCOMPARE(QString::fromUtf8(quiet.err), QStringLiteral("已损坏  %1/sub/broken.jxl：JXL 已损坏：还原结果与记录的原文件校验值不符\n").arg(m_work));
        // Listed paths and shards reach the check as they reach a restore.
        const CliRun listed = CliRun::run({QStringLiteral("check"), QStringLiteral("--json"), QStringLiteral("--shard"),
                                           QStringLiteral("0/1"), QStringLiteral("-0"), QStringLiteral("--files-from"), QStringLiteral("-")},
                                          QFile::encodeName(m_work + QStringLiteral("/from-jpeg.jxl")) + '\0');
        QCOMPARE(listed.exitCode, 0);
        QCOMPARE(listed.jobs().size(), 1);
        QCOMPARE(listed.jobs().constFirst().value(QStringLiteral("status")).toString(), QStringLiteral("ok"));
    }

    void badUsageOrNoDjxlExitsWithTwo_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no paths") << QStringList{QStringLiteral("check")};
        QTest::newRow("days not a number") << QStringList{QStringLiteral("check"), QStringLiteral("--older-than"), QStringLiteral("soon"), QStringLiteral(".")};
        QTest::newRow("no djxl") << QStringList{QStringLiteral("check"), QStringLiteral("--djxl"), QStringLiteral("/no/such/djxl"), QStringLiteral(".")};
    }

    void badUsageOrNoDjxlExitsWithTwo()
    {
        QFETCH(QStringList, arguments);
        QCOMPARE(CliRun::run(arguments).exitCode, 2);
    }

    void interruptStopsAndLeavesNoCopy()
    {
        const QString file = archived(QStringLiteral("from-jpeg.jxl"), Damage::none, QStringLiteral("Canon_40D.jpg"));
        const QString marker = m_root.filePath(QStringLiteral("started"));
        const QString djxl = TestEnv::writeScript(m_root.filePath(QStringLiteral("slow-djxl")),
                                                  ": > \"$2\"; echo started >> '" + QFile::encodeName(marker) + "'; exec sleep 60");
        QProcess process;
        process.start(QStringLiteral(PIKORA_CLI_PATH), {QStringLiteral("check"), QStringLiteral("--json"),
                                                        QStringLiteral("--djxl"), djxl, m_work});
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readAll(marker), QByteArray("started\n"), 30000);
        QCOMPARE(entries(m_temporaries).size(), 1); // the copy's private folder, removed on the way out
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(process.readAllStandardOutput().contains("\"status\":\"stopped\""));
        QCOMPARE(checkedOf(file), QByteArray());
        QCOMPARE(entries(m_work), QStringList{QStringLiteral("from-jpeg.jxl")});
    }
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
