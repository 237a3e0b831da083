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

using namespace Qt::StringLiterals;

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
    QString m_temporaries, m_work;
    int m_case = 0;
    // A good check stored long ago: one that must survive every verdict but ok.
    static constexpr char kOldCheck[] = "2020-01-01T00:00:00.000Z";

    static void setAttribute(const QString &path, const char *name, const QByteArray &value)
    {
        QCOMPARE(::setxattr(QFile::encodeName(path).constData(), name, value.constData(), size_t(value.size()), 0), 0);
    }
    // Files and folders alike: a private folder left behind is a leftover too.
    static QStringList entries(const QString &folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot); }
    static QByteArray checkedOf(const QString &path) { return ExtendedAttributes::read(path, ArchiveCheck::kCheckedAttribute).value_or(QByteArray()); }

    // A JXL from the test data, damaged the way a disk or a transfer would (a flipped bit in the
    // middle of a box, or an end cut off), storing the digest of a photo when one is named.
    QString archived(const QString &data, Damage how = Damage::none, const QString &digestOf = u"Canon_40D.jpg"_s,
                     const QString &name = QString())
    {
        const QString path = TestEnv::copyData(u"jxl/"_s + data, m_work, name);
        QByteArray bytes = TestEnv::readAll(path);
        qint64 at = -1; // the middle of the last such box: the codestream's last part holds the pixels
        BoxWalker::walk(ByteSource(bytes), 12, [&](const BoxWalker::Box &box) {
            if (box.type == (how == Damage::flipCodestream ? "jxlp" : "jbrd"))
                at = (box.payloadOffset + box.end) / 2;
            return true;
        });
        if (how == Damage::truncateHalf || how == Damage::truncateEarly)
            bytes.truncate(how == Damage::truncateHalf ? bytes.size() / 2 : 200);
        else if (how != Damage::none)
            bytes[at] = char(bytes.at(at) ^ 0x10);
        TestEnv::writeAll(path, bytes);
        if (!digestOf.isEmpty())
            setAttribute(path, FileDigest::kAttribute, FileDigest::sha256(TestEnv::dataPath(u"jpeg/cameras/"_s + digestOf))->toLatin1());
        return path;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_temporaries = TestEnv::isolateTemporaries(m_root.filePath(u"tmp"_s));
        if (TestEnv::installedTool(u"djxl"_s).isEmpty())
            QSKIP("djxl is not installed");
    }

    void init() { QVERIFY(QDir().mkpath(m_work = m_root.filePath(u"case%1"_s.arg(++m_case)))); }

    void cleanup() { QCOMPARE(entries(m_temporaries), QStringList()); } // no copy, no private folder

    void verdicts_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("digestOf");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("exitCode"); // with --strict: 1 unless ok
        const auto row = [](const char *name, const char *data, Damage damage, const char *digestOf, const char *status,
                            const char *message, int exitCode = 1) {
            QTest::newRow(name) << QString::fromUtf8(data) << damage << QString::fromUtf8(digestOf) << QString::fromUtf8(status)
                                << QString::fromUtf8(message) << exitCode;
        };
        const char *jpeg = "from-jpeg.jxl", *canon = "Canon_40D.jpg";
        row("intact", jpeg, Damage::none, canon, "ok", "", 0);
        row("bit flipped in the codestream", jpeg, Damage::flipCodestream, canon, "damaged", "JXL 已损坏：");
        row("bit flipped in jbrd", jpeg, Damage::flipReconstruction, canon, "damaged", "JXL 已损坏：");
        // djxl still exits 0 here, with a JPEG of new pixels: only its words tell.
        row("bit flipped in jbrd, no digest", jpeg, Damage::flipReconstruction, "", "damaged", "djxl 只能解码出像素（");
        row("truncated", jpeg, Damage::truncateHalf, canon, "damaged", "djxl 无法还原它（Input file is truncated");
        row("truncated before jbrd", jpeg, Damage::truncateEarly, "", "damaged", "文件不完整");
        row("digest of another photo", jpeg, Damage::none, "Nikon_D70.jpg", "damaged", "JXL 已损坏：还原结果与记录的原文件校验值不符");
        row("no digest", jpeg, Damage::none, "", "unproven", "没有记录原文件的校验值", 0);
        for (const char *pixels : {"pixels-only-container.jxl", "pixels-only-codestream.jxl", "from-jpeg-no-reconstruction.jxl"})
            row(pixels, pixels, Damage::none, "", "not-restorable", "只含像素", 0);
        row("digest without jbrd", "from-jpeg-no-reconstruction.jxl", Damage::none, canon, "damaged", "没有 JPEG 还原数据");
    }

    void verdicts()
    {
        QFETCH(QString, data);
        QFETCH(Damage, damage);
        QFETCH(QString, digestOf);
        QFETCH(QString, status);
        QFETCH(QString, message);
        const QString file = archived(data, damage, digestOf);
        setAttribute(file, ArchiveCheck::kCheckedAttribute, kOldCheck);
        const QStringList beside = entries(m_work);
        const QDateTime began = QDateTime::currentDateTimeUtc().addMSecs(-1);
        const CliRun run = CliRun::run({u"check"_s, u"--json"_s, file});
        QTEST(run.exitCode, "exitCode");
        QCOMPARE(run.jobs().size(), 1);
        const QJsonObject job = run.jobs().constFirst();
        QCOMPARE(job[u"source"_s].toString(), file);
        QCOMPARE(job[u"status"_s].toString(), status);
        const QString error = job[u"error"_s].toString();
        QVERIFY2(error.contains(message) && message.isEmpty() == (status == u"ok"_s), qPrintable(error));
        // Only a good check is remembered, as the time it began.
        if (status == u"ok"_s) {
            const QDateTime checked = QDateTime::fromString(QString::fromLatin1(checkedOf(file)), Qt::ISODate);
            QVERIFY2(checked >= began && checked <= QDateTime::currentDateTimeUtc(), checkedOf(file).constData());
            QCOMPARE(job[u"checked"_s].toString().toLatin1(), checkedOf(file));
        } else {
            QCOMPARE(checkedOf(file), QByteArray(kOldCheck));
        }
        QCOMPARE(entries(m_work), beside);

        const CliRun strict = CliRun::run({u"check"_s, u"--strict"_s, u"-q"_s, file});
        QCOMPARE(strict.exitCode, status == u"ok"_s ? 0 : 1);
        QCOMPARE(strict.out, QByteArray()); // -q: what fails the run goes to standard error, nothing else
        QCOMPARE(strict.err.isEmpty(), strict.exitCode == 0);
    }

    // --older-than 7 skips a file only when its good check is fresh, not in the future, and the file has not changed since.
    void olderThanSkipsOnlyFreshUnchangedChecks()
    {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        QHash<QString, QByteArray> stored; // by file, when skipped
        for (const auto &[name, checkedHoursAgo, modifiedHoursAgo, skipped] :
             {std::tuple("stale.jxl", 10 * 24, 20 * 24, false), {"fresh.jxl", 24, 48, true}, {"changed.jxl", 48, 1, false},
              {"future.jxl", -24, 48, false}}) {
            const QString file = archived(u"from-jpeg.jxl"_s, Damage::none, u"Canon_40D.jpg"_s, QString::fromLatin1(name));
            const QByteArray checked = now.addSecs(-3600 * checkedHoursAgo).toString(Qt::ISODateWithMs).toLatin1();
            setAttribute(file, ArchiveCheck::kCheckedAttribute, checked);
            const qint64 modified = now.addSecs(-3600 * modifiedHoursAgo).toSecsSinceEpoch();
            const struct timespec times[2] = {{modified, 0}, {modified, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
            if (skipped)
                stored.insert(file, checked);
        }
        const QStringList arguments{u"check"_s, u"--older-than"_s, u"7"_s, m_work};
        const CliRun run = CliRun::run(QStringList(arguments) << u"--json"_s);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.jobs().size(), 4);
        for (const QJsonObject &job : run.jobs()) {
            const QString file = job[u"source"_s].toString();
            const bool skipped = stored.contains(file);
            QCOMPARE(job[u"status"_s].toString(), skipped ? u"skipped"_s : u"ok"_s);
            QCOMPARE(job[u"reason"_s].toString(), skipped ? u"checked-recently"_s : QString());
            QCOMPARE(checkedOf(file) == stored.value(file), skipped);
            QCOMPARE(job[u"checked"_s].toString().toLatin1(), checkedOf(file));
        }
        const CliRun plain = CliRun::run(arguments);
        QVERIFY2(plain.out.contains("0 个完好，0 个已损坏，4 个已跳过，用时 "), plain.out.constData()); // all checked just now
    }

    // A folder's summary; -q says only the damage; listed paths and shards reach the check as
    // they reach a restore; bad usage and a missing djxl exit with 2.
    void folderRunSummarisesAndQuietSaysOnlyTheDamage()
    {
        archived(u"from-jpeg.jxl"_s);
        archived(u"from-jpeg.jxl"_s, Damage::none, u"Nikon_D70.jpg"_s, u"sub/broken.jxl"_s);
        archived(u"pixels-only-container.jxl"_s, Damage::none, QString());
        TestEnv::copyData(u"jpeg/cameras/Nikon_D70.jpg"_s, m_work); // not a JXL: not checked

        const CliRun run = CliRun::run({u"check"_s, u"-j"_s, u"2"_s, m_work});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.out.contains("\n1 个完好，1 个已损坏，1 个不可还原，用时 "), run.out.constData());
        const CliRun quiet = CliRun::run({u"check"_s, u"-q"_s, m_work});
        QCOMPARE(quiet.exitCode, 1);
        QCOMPARE(quiet.out, QByteArray());
        QCOMPARE(QString::fromUtf8(quiet.err), u"已损坏  %1/sub/broken.jxl：JXL 已损坏：还原结果与记录的原文件校验值不符\n"_s.arg(m_work));
        const CliRun listed = CliRun::run({u"check"_s, u"--json"_s, u"--shard"_s, u"0/1"_s, u"-0"_s, u"--files-from"_s, u"-"_s},
                                          QFile::encodeName(m_work + u"/from-jpeg.jxl"_s) + '\0');
        QCOMPARE(listed.exitCode, 0);
        QCOMPARE(listed.jobs().size(), 1);
        QCOMPARE(listed.jobs().constFirst()[u"status"_s].toString(), u"ok"_s);
        for (const QStringList &bad : {QStringList{}, {u"--older-than"_s, u"soon"_s, m_work}, {u"--djxl"_s, u"/no/such/djxl"_s, m_work}})
            QVERIFY2(CliRun::run(QStringList{u"check"_s} + bad).exitCode == 2, qPrintable(bad.join(u' ')));
    }

    void interruptStopsAndLeavesNoCopy()
    {
        const QString file = archived(u"from-jpeg.jxl"_s), marker = m_root.filePath(u"started"_s);
        const QString djxl = TestEnv::writeScript(m_root.filePath(u"slow-djxl"_s),
                                                  ": > \"$2\"; echo started >> '" + QFile::encodeName(marker) + "'; exec sleep 60");
        QProcess process;
        process.start(QStringLiteral(PIKORA_CLI_PATH), {u"check"_s, u"--json"_s, u"--djxl"_s, djxl, m_work});
        QTRY_COMPARE_WITH_TIMEOUT(TestEnv::readAll(marker), QByteArray("started\n"), 30000);
        QCOMPARE(entries(m_temporaries).size(), 1); // the copy's private folder, removed on the way out
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(process.readAllStandardOutput().contains("\"status\":\"stopped\""));
        QCOMPARE(checkedOf(file), QByteArray());
        QCOMPARE(entries(m_work), QStringList{u"from-jpeg.jxl"_s});
    }
};

QTEST_GUILESS_MAIN(TestCheck)
#include "tst_check.moc"
