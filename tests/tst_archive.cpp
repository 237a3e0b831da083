#include "clirun.h"
#include "engineruns.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

// Archive runs through pikora-cli with the real tools: re-runs that skip or reuse what a former
// run made, an output folder that mirrors the tree, path lists and shards.
class TestArchive final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_case = 0;
    QString m_work;

    using Run = CliRun;
    static Run cli(const QStringList &arguments, const QByteArray &input = {}) { return CliRun::run(arguments, input); }

    // A tool that notes every run in a file of its own, then runs the real one.
    QString countingTool(const QString &name)
    {
        const QString log = m_work + QStringLiteral("/runs-") + name;
        TestEnv::writeAll(log, {});
        return TestEnv::writeScript(m_work + QStringLiteral("/counting-") + name,
                                    "echo run >> '" + QFile::encodeName(log) + "'\nexec '"
                                        + QFile::encodeName(TestEnv::installedTool(name)) + "' \"$@\"");
    }
    int runsOf(const QString &name) const
    {
        return int(TestEnv::readAll(m_work + QStringLiteral("/runs-") + name).count('\n'));
    }

    QString photo(const QString &data, const QString &folder, const QString &name)
    {
        return TestEnv::copyData(QStringLiteral("jpeg/cameras/") + data, folder, name);
    }
    static QByteArray original(const QString &data)
    {
        return TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/") + data));
    }
    QByteArray restored(const QString &jxl)
    {
        return EngineRuns::restored(jxl, m_root.filePath(QStringLiteral("check.jpg")));
    }
    static QByteArray digestAttribute(const QString &path)
    {
        char value[128];
        const ssize_t size = ::getxattr(QFile::encodeName(path).constData(), "user.pikora.sha256", value, sizeof value);
        return size < 0 ? QByteArray() : QByteArray(value, int(size));
    }
    static QStringList files(const QString &folder)
    {
        QStringList list;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            list.append(QDir(folder).relativeFilePath(it.next()));
        list.sort();
        return list;
    }
    static QByteArray stats()
    {
        return cli({QStringLiteral("stats"), QStringLiteral("--json")}).out;
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
        QDir().mkpath(m_work + QStringLiteral("/photos/sub"));
    }

    // ---- a re-run over finished photos

    void rerunSkipsOrReusesWithoutEncoding_data()
    {
        QTest::addColumn<QString>("originals");
        QTest::newRow("keep") << QStringLiteral("keep");
        QTest::newRow("trash") << QStringLiteral("trash");
        QTest::newRow("delete") << QStringLiteral("delete");
    }

    void rerunSkipsOrReusesWithoutEncoding()
    {
        QFETCH(QString, originals);
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        const QString b = photo(QStringLiteral("Nikon_D70.jpg"), photos + QStringLiteral("/sub"), QStringLiteral("b.JPG"));
        const Run first = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"),
                               QStringLiteral("1"), photos});
        QCOMPARE(first.exitCode, 0);
        const QString aOut = photos + QStringLiteral("/a.jxl");
        const QString bOut = photos + QStringLiteral("/sub/b.jxl");
        const QByteArray aBytes = TestEnv::readAll(aOut);
        const QByteArray bBytes = TestEnv::readAll(bOut);
        QVERIFY(!aBytes.isEmpty() && !bBytes.isEmpty());
        const QByteArray counted = stats();

        const QString cjxl = countingTool(QStringLiteral("cjxl"));
        const QString djxl = countingTool(QStringLiteral("djxl"));
        const Run again = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-o"), originals,
                               QStringLiteral("--cjxl"), cjxl, QStringLiteral("--djxl"), djxl, photos});
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 0);
        const QHash<QString, QJsonObject> jobs = again.bySource();
        QCOMPARE(jobs.size(), 2);
        const bool keeps = originals == QStringLiteral("keep");
        for (const auto &[source, output] : {std::pair{a, aOut}, std::pair{b, bOut}}) {
            const QJsonObject job = jobs.value(source);
            QCOMPARE(job.value(QStringLiteral("status")).toString(),
                     keeps ? QStringLiteral("skipped") : QStringLiteral("completed"));
            QCOMPARE(job.value(QStringLiteral("output")).toString(), output);
            QCOMPARE(job.value(QStringLiteral("reused")).toBool(), !keeps);
            // Trusted on its stored digest alone, a kept output is not reported as verified.
            QCOMPARE(job.value(QStringLiteral("verified")).toBool(), !keeps);
            QCOMPARE(QFileInfo::exists(source), keeps);
        }
        // Kept: the stored digests are trusted; disposing: every output is proven first.
        QCOMPARE(runsOf(QStringLiteral("djxl")), keeps ? 0 : 2);
        QCOMPARE(TestEnv::readAll(aOut), aBytes);
        QCOMPARE(TestEnv::readAll(bOut), bBytes);
        QCOMPARE(restored(aOut), original(QStringLiteral("Canon_40D.jpg")));
        QCOMPARE(restored(bOut), original(QStringLiteral("Nikon_D70.jpg")));
        QCOMPARE(files(photos).size(), keeps ? 4 : 2); // nothing else was written
        QCOMPARE(stats(), counted);                   // counted when they were made
        if (keeps) {
            const Run text = cli({QStringLiteral("compress"), QStringLiteral("--cjxl"), cjxl, photos});
            QCOMPARE(text.exitCode, 0);
            const QString out = QString::fromUtf8(text.out);
            QVERIFY2(out.contains(QStringLiteral("0 个完成，0 个失败，2 个已跳过")), text.out.constData());
            QVERIFY2(out.contains(QStringLiteral("已跳过  ") + a + QStringLiteral(" -> ") + aOut + QStringLiteral("（之前已转换）")),
                     text.out.constData());
            // Asked to verify every output, a run proves the ones it skips too.
            const Run verified = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("--verify"),
                                      QStringLiteral("--cjxl"), cjxl, QStringLiteral("--djxl"), djxl, photos});
            QCOMPARE(verified.exitCode, 0);
            QCOMPARE(verified.out.count("\"status\":\"skipped\""), 2);
            QCOMPARE(verified.out.count("\"verified\":true"), 2);
            QCOMPARE(runsOf(QStringLiteral("djxl")), 2);
            QCOMPARE(runsOf(QStringLiteral("cjxl")), 0);
        }
    }

    // Two cards' DCIM folders sent to one output folder: the second card's photos take numbered
    // names, and every later run finds them there, whether the folders are named or the photos
    // listed, and counts nothing again.
    void rerunsFindNumberedOutputs_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::newRow("folders named") << false;
        QTest::newRow("photos listed") << true;
    }

    void rerunsFindNumberedOutputs()
    {
        QFETCH(bool, listed);
        QStringList photos;
        QStringList folders;
        for (const auto &[card, first, second] : {std::tuple{"cardA", "Canon_40D.jpg", "Nikon_D70.jpg"},
                                                  std::tuple{"cardB", "Pentax_K10D.jpg", "Kodak_CX7530.jpg"}}) {
            folders.append(m_work + u'/' + QLatin1String(card) + QStringLiteral("/DCIM"));
            QDir().mkpath(folders.last());
            photos.append(photo(QLatin1String(first), folders.last(), QStringLiteral("IMG_0001.jpg")));
            photos.append(photo(QLatin1String(second), folders.last(), QStringLiteral("IMG_0002.jpg")));
        }
        const QString out = m_work + QStringLiteral("/out");
        const QString cjxl = countingTool(QStringLiteral("cjxl"));
        QStringList arguments{QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"), QStringLiteral("1"),
                              QStringLiteral("--cjxl"), cjxl, QStringLiteral("--output-dir"), out};
        arguments += listed ? QStringList{QStringLiteral("--files-from"), QStringLiteral("-")} : folders;
        const QByteArray list = QFile::encodeName(photos.join(u'\n'));

        const QByteArray before = stats();
        QCOMPARE(cli(arguments, list).exitCode, 0);
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 4);
        const QByteArray counted = stats();
        QVERIFY(counted != before);
        for (int rerun = 0; rerun < 2; ++rerun) {
            const Run again = cli(arguments, list);
            QCOMPARE(again.exitCode, 0);
            QCOMPARE(again.out.count("\"status\":\"skipped\""), 4);
        }
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 4);
        QCOMPARE(stats(), counted);
        QCOMPARE(files(out), (QStringList{QStringLiteral("DCIM/IMG_0001 (1).jxl"), QStringLiteral("DCIM/IMG_0001.jxl"),
                                          QStringLiteral("DCIM/IMG_0002 (1).jxl"), QStringLiteral("DCIM/IMG_0002.jxl")}));
    }

    // A JXL that would be no smaller is not kept, whatever becomes of originals: the library
    // would grow. Counted apart, and not as savings.
    void aJxlThatSavesNothingIsNotKept()
    {
        const QString tiny = TestEnv::copyData(QStringLiteral("jpeg/odd-but-lossless/1x1.jpg"), m_work);
        const QString normal = photo(QStringLiteral("Canon_40D.jpg"), m_work, QStringLiteral("normal.jpg"));
        const QByteArray before = stats();
        const Run json = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-o"), QStringLiteral("delete"),
                              QStringLiteral("--verify"), tiny});
        QCOMPARE(json.exitCode, 0);
        const QJsonObject job = json.bySource().value(tiny);
        QCOMPARE(job.value(QStringLiteral("status")).toString(), QStringLiteral("skipped"));
        QCOMPARE(job.value(QStringLiteral("reason")).toString(), QStringLiteral("larger"));
        QVERIFY(job.value(QStringLiteral("output")).isNull());
        QCOMPARE(TestEnv::readAll(tiny), TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/odd-but-lossless/1x1.jpg"))));
        QCOMPARE(stats(), before);

        const Run text = cli({QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("trash"), m_work});
        QCOMPARE(text.exitCode, 0);
        const QString out = QString::fromUtf8(text.out);
        QVERIFY2(out.contains(QStringLiteral("已跳过  ") + tiny + QStringLiteral("（转换后不会更小，已保留原 JPEG）")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("1 个完成，0 个失败，1 个转换后不会更小，保留为 JPEG")), qPrintable(out));
        QCOMPARE(files(m_work).filter(QStringLiteral(".j")), (QStringList{QStringLiteral("1x1.jpg"), QStringLiteral("normal.jxl")}));
        QVERIFY(!QFileInfo::exists(normal));
    }

    void jxlWithoutDigestIsProvenByRestoring()
    {
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("1"), a}).exitCode, 0);
        const QString out = photos + QStringLiteral("/a.jxl");
        QCOMPARE(::removexattr(QFile::encodeName(out).constData(), "user.pikora.sha256"), 0);

        const QString cjxl = countingTool(QStringLiteral("cjxl"));
        const QString djxl = countingTool(QStringLiteral("djxl"));
        const QStringList tools{QStringLiteral("--json"), QStringLiteral("--cjxl"), cjxl, QStringLiteral("--djxl"), djxl};
        const Run kept = cli(QStringList{QStringLiteral("compress")} + tools + QStringList{a});
        QCOMPARE(kept.exitCode, 0);
        QCOMPARE(kept.bySource().value(a).value(QStringLiteral("status")).toString(), QStringLiteral("skipped"));
        QCOMPARE(kept.bySource().value(a).value(QStringLiteral("verified")).toBool(), true);
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 0);
        QCOMPARE(runsOf(QStringLiteral("djxl")), 1);

        const Run deleted = cli(QStringList{QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("delete")}
                                + tools + QStringList{a});
        QCOMPARE(deleted.exitCode, 0);
        QCOMPARE(deleted.bySource().value(a).value(QStringLiteral("reused")).toBool(), true);
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 0);
        QVERIFY(!QFileInfo::exists(a));
        QCOMPARE(restored(out), original(QStringLiteral("Canon_40D.jpg")));
    }

    void tamperedJxlIsNeverTaken_data()
    {
        QTest::addColumn<QString>("originals");
        QTest::addColumn<bool>("digest");
        // A digest that names the photo, but bytes of another: only a disposing run proves it.
        QTest::newRow("forged digest, trash") << QStringLiteral("trash") << true;
        QTest::newRow("no digest, keep") << QStringLiteral("keep") << false;
    }

    void tamperedJxlIsNeverTaken()
    {
        QFETCH(QString, originals);
        QFETCH(bool, digest);
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        const QString other = photo(QStringLiteral("Nikon_D70.jpg"), m_work, QStringLiteral("other.jpg"));
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("1"), a, other}).exitCode, 0);
        const QString out = photos + QStringLiteral("/a.jxl");
        const QByteArray stored = digestAttribute(out);
        QCOMPARE(stored.size(), 64);
        // a.jxl now holds the other photo.
        QVERIFY(QFile::remove(out));
        QVERIFY(QFile::copy(m_work + QStringLiteral("/other.jxl"), out));
        if (digest)
            QCOMPARE(::setxattr(QFile::encodeName(out).constData(), "user.pikora.sha256", stored.constData(),
                                size_t(stored.size()), 0),
                     0);
        const QByteArray tampered = TestEnv::readAll(out);

        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"),
                             QStringLiteral("1"), QStringLiteral("-o"), originals, a});
        QCOMPARE(run.exitCode, 0);
        const QJsonObject job = run.bySource().value(a);
        QCOMPARE(job.value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QVERIFY(!job.contains(QStringLiteral("reused")));
        const QString fresh = photos + QStringLiteral("/a (1).jxl");
        QCOMPARE(job.value(QStringLiteral("output")).toString(), fresh);
        QCOMPARE(TestEnv::readAll(out), tampered);
        QCOMPARE(restored(fresh), original(QStringLiteral("Canon_40D.jpg")));
        QCOMPARE(QFileInfo::exists(a), originals == QStringLiteral("keep"));
    }

    void oneOutputNeverStandsForTwoOriginals()
    {
        // Two copies of one photo share an output name; a re-run that deletes the originals must
        // not let both go on the word of one JXL.
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        const QString copy = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpeg"));
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("1"), photos}).exitCode, 0);
        QCOMPARE(files(photos).size(), 4); // a.jxl and a (1).jxl

        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"),
                             QStringLiteral("1"), QStringLiteral("-o"), QStringLiteral("delete"), photos});
        QCOMPARE(run.exitCode, 0);
        const QHash<QString, QJsonObject> jobs = run.bySource();
        QCOMPARE(jobs.size(), 2);
        const QString first = jobs.value(a).value(QStringLiteral("output")).toString();
        const QString second = jobs.value(copy).value(QStringLiteral("output")).toString();
        QVERIFY(!first.isEmpty() && !second.isEmpty());
        QVERIFY(first != second);
        QCOMPARE(files(photos), (QStringList{QStringLiteral("a (1).jxl"), QStringLiteral("a.jxl")}));
        QCOMPARE(restored(first), original(QStringLiteral("Canon_40D.jpg")));
        QCOMPARE(restored(second), original(QStringLiteral("Canon_40D.jpg")));
    }

    void linksToAPhotoAreConvertedOnce()
    {
        // A link beside the photo (walk order decides which comes first), one in a folder walked
        // before it and one named directly: one conversion, on the photo, which then goes.
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos + QStringLiteral("/sub"), QStringLiteral("a.jpg"));
        const QString links = m_work + QStringLiteral("/links");
        const QString named = m_work + QStringLiteral("/named.jpg");
        QVERIFY(QDir().mkpath(links));
        QVERIFY(QFile::link(QStringLiteral("a.jpg"), photos + QStringLiteral("/sub/beside.jpg")));
        QVERIFY(QFile::link(QStringLiteral("../photos/sub/a.jpg"), links + QStringLiteral("/first.jpg")));
        QVERIFY(QFile::link(a, named));
        const QString cjxl = countingTool(QStringLiteral("cjxl"));
        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"), QStringLiteral("1"),
                             QStringLiteral("-o"), QStringLiteral("delete"), QStringLiteral("--cjxl"), cjxl, named, links,
                             photos});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.bySource().keys(), QStringList{a});
        QCOMPARE(runsOf(QStringLiteral("cjxl")), 1);
        QDirIterator outputs(m_work, {QStringLiteral("*.jxl")}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(outputs.hasNext());
        QCOMPARE(outputs.next(), photos + QStringLiteral("/sub/a.jxl"));
        QVERIFY(!outputs.hasNext());
        QVERIFY(!QFileInfo::exists(a));
        for (const QString &link : QStringList{photos + QStringLiteral("/sub/beside.jpg"), links + QStringLiteral("/first.jpg"), named})
            QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(restored(photos + QStringLiteral("/sub/a.jxl")), original(QStringLiteral("Canon_40D.jpg")));
    }

    void restoreSkipsTheJpegThatIsThere()
    {
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        const QString b = photo(QStringLiteral("Nikon_D70.jpg"), photos, QStringLiteral("b.jpg"));
        QCOMPARE(cli({QStringLiteral("compress"), QStringLiteral("-e"), QStringLiteral("1"), photos}).exitCode, 0);
        const QString aJxl = photos + QStringLiteral("/a.jxl");
        const QString bJxl = photos + QStringLiteral("/b.jxl");
        // b.jpg is replaced by another photo: its JXL is restored to a new name.
        QVERIFY(QFile::remove(b));
        photo(QStringLiteral("Pentax_K10D.jpg"), photos, QStringLiteral("b.jpg"));

        const QString djxl = countingTool(QStringLiteral("djxl"));
        const Run kept = cli({QStringLiteral("restore"), QStringLiteral("--json"), QStringLiteral("--djxl"), djxl,
                              aJxl, bJxl});
        QCOMPARE(kept.exitCode, 0);
        QCOMPARE(kept.bySource().value(aJxl).value(QStringLiteral("status")).toString(), QStringLiteral("skipped"));
        QCOMPARE(kept.bySource().value(aJxl).value(QStringLiteral("output")).toString(), a);
        QCOMPARE(kept.bySource().value(bJxl).value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QCOMPARE(kept.bySource().value(bJxl).value(QStringLiteral("output")).toString(),
                 photos + QStringLiteral("/b (1).jpg"));
        QCOMPARE(runsOf(QStringLiteral("djxl")), 1);
        QCOMPARE(TestEnv::readAll(photos + QStringLiteral("/b (1).jpg")), original(QStringLiteral("Nikon_D70.jpg")));

        const Run deleted = cli({QStringLiteral("restore"), QStringLiteral("--json"), QStringLiteral("-o"),
                                 QStringLiteral("delete"), QStringLiteral("--djxl"), djxl, aJxl});
        QCOMPARE(deleted.exitCode, 0);
        QCOMPARE(deleted.bySource().value(aJxl).value(QStringLiteral("reused")).toBool(), true);
        QCOMPARE(runsOf(QStringLiteral("djxl")), 1);
        QVERIFY(!QFileInfo::exists(aJxl));
        QCOMPARE(TestEnv::readAll(a), original(QStringLiteral("Canon_40D.jpg")));
    }

    // ---- an output folder

    void outputFolderMirrorsTheTree()
    {
        const QString year = m_work + QStringLiteral("/Pictures/2019");
        QDir().mkpath(year + QStringLiteral("/summer"));
        QDir().mkpath(year + QStringLiteral("/winter"));
        QDir().mkpath(m_work + QStringLiteral("/loose"));
        const QString summer = photo(QStringLiteral("Canon_40D.jpg"), year + QStringLiteral("/summer"), QStringLiteral("IMG_0001.jpg"));
        photo(QStringLiteral("Nikon_D70.jpg"), year + QStringLiteral("/winter"), QStringLiteral("IMG_0001.jpg"));
        const QString single = photo(QStringLiteral("Pentax_K10D.jpg"), m_work + QStringLiteral("/loose"), QStringLiteral("one.jpeg"));
        QCOMPARE(::chmod(QFile::encodeName(year + QStringLiteral("/summer")).constData(), 0750), 0);
        QCOMPARE(::chmod(QFile::encodeName(summer).constData(), 0640), 0);
        const QString out = m_work + QStringLiteral("/out");

        const QStringList arguments{QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"),
                                    QStringLiteral("1"), QStringLiteral("--output-dir"), out, year, single};
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(files(out), (QStringList{QStringLiteral("2019/summer/IMG_0001.jxl"),
                                          QStringLiteral("2019/winter/IMG_0001.jxl"), QStringLiteral("loose/one.jxl")}));
        QCOMPARE(run.bySource().value(summer).value(QStringLiteral("output")).toString(),
                 out + QStringLiteral("/2019/summer/IMG_0001.jxl"));
        QCOMPARE(restored(out + QStringLiteral("/2019/summer/IMG_0001.jxl")), original(QStringLiteral("Canon_40D.jpg")));
        QCOMPARE(restored(out + QStringLiteral("/2019/winter/IMG_0001.jxl")), original(QStringLiteral("Nikon_D70.jpg")));
        QCOMPARE(restored(out + QStringLiteral("/loose/one.jxl")), original(QStringLiteral("Pentax_K10D.jpg")));
        struct stat made;
        QCOMPARE(::stat(QFile::encodeName(out + QStringLiteral("/2019/summer")).constData(), &made), 0);
        QCOMPARE(made.st_mode & 07777, mode_t(0750));
        QCOMPARE(::stat(QFile::encodeName(out + QStringLiteral("/2019/summer/IMG_0001.jxl")).constData(), &made), 0);
        QCOMPARE(made.st_mode & 0777, mode_t(0640));
        QCOMPARE(QFileInfo(out + QStringLiteral("/2019/summer/IMG_0001.jxl")).lastModified(), QFileInfo(summer).lastModified());

        // A re-run looks in the output folder, and a restore mirrors the output tree back.
        const Run again = cli(arguments);
        QCOMPARE(again.exitCode, 0);
        for (const QJsonObject &job : again.jobs())
            QCOMPARE(job.value(QStringLiteral("status")).toString(), QStringLiteral("skipped"));
        QCOMPARE(again.jobs().size(), 3);
        const QString back = m_work + QStringLiteral("/back");
        QCOMPARE(cli({QStringLiteral("restore"), QStringLiteral("--output-dir"), back, out + QStringLiteral("/2019")}).exitCode, 0);
        QCOMPARE(TestEnv::readAll(back + QStringLiteral("/2019/winter/IMG_0001.jpg")), original(QStringLiteral("Nikon_D70.jpg")));
    }

    void outputFolderCollisionsAndNesting()
    {
        const QString photos = m_work + QStringLiteral("/photos");
        const QString a = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("a.jpg"));
        const QString b = photo(QStringLiteral("Nikon_D70.jpg"), photos + QStringLiteral("/sub"), QStringLiteral("b.jpg"));
        // Somebody else's file where a's output would go, and an output folder inside the tree.
        const QString out = photos + QStringLiteral("/converted");
        QDir().mkpath(out + QStringLiteral("/photos"));
        TestEnv::writeAll(out + QStringLiteral("/photos/a.jxl"), "not ours");

        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-e"),
                             QStringLiteral("1"), QStringLiteral("-o"), QStringLiteral("delete"),
                             QStringLiteral("--output-dir"), out, photos});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.jobs().size(), 2);
        QCOMPARE(run.bySource().value(a).value(QStringLiteral("output")).toString(),
                 out + QStringLiteral("/photos/a (1).jxl"));
        QCOMPARE(TestEnv::readAll(out + QStringLiteral("/photos/a.jxl")), QByteArray("not ours"));
        QCOMPARE(restored(out + QStringLiteral("/photos/a (1).jxl")), original(QStringLiteral("Canon_40D.jpg")));
        QCOMPARE(restored(out + QStringLiteral("/photos/sub/b.jxl")), original(QStringLiteral("Nikon_D70.jpg")));
        QVERIFY(!QFileInfo::exists(a) && !QFileInfo::exists(b)); // gone only after their proofs
        QCOMPARE(files(photos), (QStringList{QStringLiteral("converted/photos/a (1).jxl"),
                                             QStringLiteral("converted/photos/a.jxl"),
                                             QStringLiteral("converted/photos/sub/b.jxl")}));
    }

    // ---- path lists and shards

    void filesFromTakesOddNames()
    {
        const QString photos = m_work + QStringLiteral("/photos");
        const QString spaced = photo(QStringLiteral("Canon_40D.jpg"), photos, QStringLiteral("with  space .jpg"));
        const QString broken = photo(QStringLiteral("Nikon_D70.jpg"), photos, QStringLiteral("new\nline.jpg"));
        const QByteArray rawName = QFile::encodeName(photos) + "/caf\xe9.jpg"; // Latin-1, not UTF-8
        const int fd = ::open(rawName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        const QByteArray jpeg = original(QStringLiteral("Pentax_K10D.jpg"));
        QCOMPARE(::write(fd, jpeg.constData(), size_t(jpeg.size())), ssize_t(jpeg.size()));
        ::close(fd);
        const QString fakeEncoder = TestEnv::writeScript(m_work + QStringLiteral("/fake-cjxl"), TestEnv::writeFakeJxlCommand());

        const QByteArray list = QFile::encodeName(spaced) + '\0' + QFile::encodeName(broken) + '\0' + rawName + '\0';
        const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("--cjxl"), fakeEncoder,
                             QStringLiteral("-0"), QStringLiteral("--files-from"), QStringLiteral("-")},
                            list);
        QCOMPARE(run.exitCode, 1); // the photo without a UTF-8 name cannot run
        const QHash<QString, QJsonObject> jobs = run.bySource();
        QCOMPARE(jobs.size(), 3);
        QCOMPARE(jobs.value(spaced).value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QCOMPARE(jobs.value(broken).value(QStringLiteral("status")).toString(), QStringLiteral("completed"));
        QVERIFY(QFileInfo::exists(photos + QStringLiteral("/with  space .jxl")));
        QVERIFY(QFileInfo::exists(photos + QStringLiteral("/new\nline.jxl")));
        QVERIFY(jobs.contains(photos + QStringLiteral("/caf\\xE9.jpg")));
        QCOMPARE(jobs.value(photos + QStringLiteral("/caf\\xE9.jpg")).value(QStringLiteral("status")).toString(),
                 QStringLiteral("failed"));
        QCOMPARE(::unlink(rawName.constData()), 0); // no text path reaches it for the clean-up

        // One a line, from a file, relative to the working folder; scan takes lists too.
        const QString listFile = m_work + QStringLiteral("/list.txt");
        TestEnv::writeAll(listFile, "photos/with  space .jpg\nphotos/sub\n");
        QProcess scan;
        scan.setWorkingDirectory(m_work);
        scan.start(QStringLiteral(PIKORA_CLI_PATH),
                   {QStringLiteral("scan"), QStringLiteral("--json"), QStringLiteral("--files-from"), listFile});
        QVERIFY(scan.waitForFinished(60000));
        QCOMPARE(scan.exitCode(), 0);
        QCOMPARE(QJsonDocument::fromJson(scan.readAllStandardOutput()).object().value(QStringLiteral("jpegFiles")).toInt(), 1);
        QCOMPARE(cli({QStringLiteral("scan"), QStringLiteral("--files-from"), m_work + QStringLiteral("/nothing")}).exitCode, 2);
    }

    void shardsTakeEveryPhotoOnce()
    {
        // The same tree under two different mount points splits alike.
        const QStringList relative{QStringLiteral("a.jpg"),       QStringLiteral("b.jpg"),
                                   QStringLiteral("x/c.jpg"),     QStringLiteral("x/d.jpg"),
                                   QStringLiteral("x/y/e.jpg"),   QStringLiteral("x/y/f.jpg"),
                                   QStringLiteral("z/g.jpg"),     QStringLiteral("z/h.jpg"),
                                   QStringLiteral("z/i i.jpg"),   QStringLiteral("z/j.jpg"),
                                   QStringLiteral("k.jpg"),       QStringLiteral("l.jpg")};
        const QStringList trees{m_work + QStringLiteral("/one/archive"), m_work + QStringLiteral("/mnt/nas/archive")};
        for (const QString &tree : trees) {
            for (const QString &path : relative) {
                const QFileInfo info(tree + QLatin1Char('/') + path);
                QDir().mkpath(info.absolutePath());
                photo(QStringLiteral("Canon_40D.jpg"), info.absolutePath(), info.fileName());
            }
        }
        // A tool that always fails: every job reports its source and nothing is written.
        const QString failing = TestEnv::writeScript(m_work + QStringLiteral("/failing-cjxl"), "exit 1");
        for (const int count : {1, 3, 7}) {
            QList<QStringList> split;
            for (const QString &tree : trees) {
                QStringList all;
                QStringList shardsOf;
                for (int index = 0; index < count; ++index) {
                    const Run run = cli({QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("--cjxl"),
                                         failing, QStringLiteral("--shard"),
                                         QStringLiteral("%1/%2").arg(index).arg(count), tree});
                    for (const QJsonObject &job : run.jobs()) {
                        const QString below = QDir(tree).relativeFilePath(job.value(QStringLiteral("source")).toString());
                        all.append(below);
                        shardsOf.append(QStringLiteral("%1:%2").arg(index).arg(below));
                        // The hash the README documents: SHA-256's first 8 bytes, big-endian, mod N.
                        const QByteArray digest = QCryptographicHash::hash(below.toUtf8(), QCryptographicHash::Sha256);
                        QCOMPARE(int(qFromBigEndian<quint64>(digest.constData()) % quint64(count)), index);
                    }
                }
                all.sort();
                QStringList expected = relative;
                expected.sort();
                QCOMPARE(all, expected); // each photo exactly once
                shardsOf.sort();
                split.append(shardsOf);
            }
            QCOMPARE(split.at(0), split.at(1));
        }
        const Run bad = cli({QStringLiteral("compress"), QStringLiteral("--shard"), QStringLiteral("3/3"), m_work});
        QCOMPARE(bad.exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
