#include "clirun.h"
#include "engineruns.h"
#include "servicefixtures.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <tuple>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// Archive runs through pikora-cli with the real tools: re-runs, output folders, path lists, shards.
class TestArchive final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    int m_case = 0;
    QString m_work;
    QString m_photos;

    using Run = CliRun;
    // pikora-cli with the options in words (split at blanks), then further arguments (paths).
    static Run cli(const QString &words, const QStringList &more = {}, const QByteArray &input = {})
    {
        return CliRun::run(words.split(u' ', Qt::SkipEmptyParts) + more, input);
    }
    static QString field(const Run &run, const QString &source, const QString &key)
    {
        const QJsonValue value = run.bySource().value(source).value(key);
        return value.isString() ? value.toString() : value.toBool() ? u"true"_s : u"false"_s; // flags are false when left out
    }

    // A tool that notes every run in a file of its own, then runs the real one.
    QString countingTool(const QString &name)
    {
        TestEnv::writeAll(m_work + u"/runs-"_s + name, {});
        return TestEnv::writeScript(m_work + u"/counting-"_s + name, "echo run >> '" + QFile::encodeName(m_work + u"/runs-"_s + name) + "'\nexec " + name.toLatin1() + " \"$@\"");
    }
    int runsOf(const QString &name) const { return int(TestEnv::readAll(m_work + u"/runs-"_s + name).count('\n')); }

    static QString photo(const QString &data, const QString &folder, const QString &name)
    {
        return TestEnv::copyData(u"jpeg/cameras/"_s + data, folder, name);
    }
    static QByteArray original(const QString &data) { return TestEnv::readAll(TestEnv::dataPath(u"jpeg/cameras/"_s + data)); }
    QByteArray restored(const QString &jxl) { return EngineRuns::restored(jxl, m_root.filePath(u"check.jpg"_s)); }
    static QStringList files(const QString &folder)
    {
        QStringList list;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            list.append(QDir(folder).relativeFilePath(it.next()));
        list.sort();
        return list;
    }
    static QByteArray stats() { return cli(u"stats --json"_s).out; }

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
        m_photos = m_work + u"/photos"_s;
        QDir().mkpath(m_photos + u"/sub"_s);
    }

    void rerunSkipsOrReusesWithoutEncoding_data()
    {
        QTest::addColumn<QString>("originals");
        for (const char *originals : {"keep", "trash", "delete"})
            QTest::newRow(originals) << QString::fromLatin1(originals);
    }

    void rerunSkipsOrReusesWithoutEncoding()
    {
        QFETCH(QString, originals);
        // Two copies of one photo share an output name: a re-run that disposes of the originals
        // must not let both go on the word of one JXL.
        const QStringList sources{photo(u"Canon_40D.jpg"_s, m_photos, u"a.jpg"_s), photo(u"Canon_40D.jpg"_s, m_photos, u"a.jpeg"_s),
                                  photo(u"Nikon_D70.jpg"_s, m_photos + u"/sub"_s, u"b.JPG"_s)};
        QCOMPARE(cli(u"compress --json -e 1"_s, {m_photos}).exitCode, 0);
        const QStringList outputs{m_photos + u"/a (1).jxl"_s, m_photos + u"/a.jxl"_s, m_photos + u"/sub/b.jxl"_s};
        QHash<QString, QByteArray> made;
        for (const QString &output : outputs)
            made.insert(output, TestEnv::readAll(output));
        const QByteArray counted = stats();

        const QStringList tools{u"--cjxl"_s, countingTool(u"cjxl"_s), u"--djxl"_s, countingTool(u"djxl"_s), m_photos};
        const Run again = cli(u"compress --json -o "_s + originals, tools);
        QCOMPARE(again.exitCode, 0);
        QCOMPARE(runsOf(u"cjxl"_s), 0);
        QCOMPARE(again.jobs().size(), 3);
        const bool keeps = originals == u"keep"_s;
        QStringList taken;
        for (const QString &source : sources) {
            QCOMPARE(field(again, source, u"status"_s), keeps ? u"skipped"_s : u"completed"_s);
            QCOMPARE(field(again, source, u"reused"_s), keeps ? u"false"_s : u"true"_s);
            // Trusted on its stored digest alone, a kept output is not reported as verified.
            QCOMPARE(field(again, source, u"verified"_s), keeps ? u"false"_s : u"true"_s);
            QCOMPARE(QFileInfo::exists(source), keeps);
            taken.append(field(again, source, u"output"_s));
        }
        taken.sort();
        QCOMPARE(taken, outputs); // each output stands for one original
        // Kept: the stored digests are trusted; disposing: every output is proven first.
        QCOMPARE(runsOf(u"djxl"_s), keeps ? 0 : 3);
        for (const QString &output : outputs) {
            QCOMPARE(TestEnv::readAll(output), made.value(output));
            QCOMPARE(restored(output), original(output.endsWith(u"b.jxl"_s) ? u"Nikon_D70.jpg"_s : u"Canon_40D.jpg"_s));
        }
        QCOMPARE(files(m_photos).size(), keeps ? 6 : 3); // nothing else was written
        QCOMPARE(stats(), counted);                     // counted when they were made
    }

    // Two cards' DCIM folders into one output folder: the second's photos take numbered names,
    // which a re-run finds (folders named or photos listed) and counts nothing again.
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
        for (const auto &[card, first, second] : {std::tuple{"cardA", "Canon_40D.jpg", "Nikon_D70.jpg"}, {"cardB", "Pentax_K10D.jpg", "Kodak_CX7530.jpg"}}) {
            folders.append(m_work + u'/' + QLatin1String(card) + u"/DCIM"_s);
            photos.append(photo(QLatin1String(first), folders.last(), u"IMG_0001.jpg"_s));
            photos.append(photo(QLatin1String(second), folders.last(), u"IMG_0002.jpg"_s));
        }
        const QString out = m_work + u"/out"_s;
        const QStringList arguments = QStringList{u"--cjxl"_s, countingTool(u"cjxl"_s), u"--output-dir"_s, out}
                                      + (listed ? QStringList{u"--files-from"_s, u"-"_s} : folders);
        const QByteArray list = QFile::encodeName(photos.join(u'\n'));
        const QByteArray before = stats();
        QCOMPARE(cli(u"compress --json -e 1"_s, arguments, list).exitCode, 0);
        QCOMPARE(runsOf(u"cjxl"_s), 4);
        const QByteArray counted = stats();
        QVERIFY(counted != before);
        const Run again = cli(u"compress --json -e 1"_s, arguments, list);
        QVERIFY(again.exitCode == 0 && again.out.count("\"status\":\"skipped\"") == 4);
        QCOMPARE(runsOf(u"cjxl"_s), 4);
        QCOMPARE(stats(), counted);
        QCOMPARE(files(out), (QStringList{u"DCIM/IMG_0001 (1).jxl"_s, u"DCIM/IMG_0001.jxl"_s, u"DCIM/IMG_0002 (1).jxl"_s,
                                          u"DCIM/IMG_0002.jxl"_s}));
    }

    // A JXL that would be no smaller is not kept, whatever becomes of originals: the library
    // would grow. Counted apart, and not as savings.
    void aJxlThatSavesNothingIsNotKept()
    {
        const QString tiny = TestEnv::copyData(u"jpeg/odd-but-lossless/1x1.jpg"_s, m_work);
        const QByteArray before = stats();
        const Run json = cli(u"compress --json -o delete --verify"_s, {tiny});
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(field(json, tiny, u"status"_s), u"skipped"_s);
        QCOMPARE(field(json, tiny, u"reason"_s), u"larger"_s);
        QCOMPARE(TestEnv::readAll(tiny), TestEnv::readAll(TestEnv::dataPath(u"jpeg/odd-but-lossless/1x1.jpg"_s)));
        QCOMPARE(stats(), before);
    }

    // A JXL at a photo's output name that holds another photo, under a forged digest or none, is
    // never taken: a fresh output goes beside it. (A JXL of its own photo without a digest is
    // proven by restoring: tst_faults.)
    void aFormerOutputIsTakenOnlyOnProof_data()
    {
        QTest::addColumn<bool>("forged"); // the JXL at a's name carries a's digest
        QTest::addColumn<QString>("originals");
        QTest::newRow("forged digest, trash") << true << u"trash"_s;
        QTest::newRow("no digest, keep") << false << u"keep"_s;
    }

    void aFormerOutputIsTakenOnlyOnProof()
    {
        QFETCH(bool, forged);
        QFETCH(QString, originals);
        const QString a = photo(u"Canon_40D.jpg"_s, m_photos, u"a.jpg"_s);
        const QString other = photo(u"Nikon_D70.jpg"_s, m_work, u"other.jpg"_s);
        QCOMPARE(cli(u"compress -e 1"_s, {a, other}).exitCode, 0);
        const QString out = m_photos + u"/a.jxl"_s;
        char stored[64];
        QCOMPARE(::getxattr(QFile::encodeName(out).constData(), "user.pikora.sha256", stored, sizeof stored), ssize_t(64));
        QCOMPARE(::removexattr(QFile::encodeName(out).constData(), "user.pikora.sha256"), 0);
        // a.jxl now holds the other photo.
        QVERIFY(QFile::remove(out));
        QVERIFY(QFile::copy(m_work + u"/other.jxl"_s, out));
        if (forged)
            QCOMPARE(::setxattr(QFile::encodeName(out).constData(), "user.pikora.sha256", stored, sizeof stored, 0), 0);
        const QByteArray tampered = TestEnv::readAll(out);
        const Run run = cli(u"compress --json -e 1 -o "_s + originals, {a});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(field(run, a, u"output"_s), m_photos + u"/a (1).jxl"_s);
        QCOMPARE(TestEnv::readAll(out), tampered);
        QCOMPARE(restored(m_photos + u"/a (1).jxl"_s), original(u"Canon_40D.jpg"_s));
        QCOMPARE(QFileInfo::exists(a), originals == u"keep"_s);
    }

    void restoreSkipsTheJpegThatIsThere()
    {
        const QString a = photo(u"Canon_40D.jpg"_s, m_photos, u"a.jpg"_s);
        const QString b = photo(u"Nikon_D70.jpg"_s, m_photos, u"b.jpg"_s);
        QCOMPARE(cli(u"compress -e 1"_s, {m_photos}).exitCode, 0);
        const QString aJxl = m_photos + u"/a.jxl"_s;
        const QString bJxl = m_photos + u"/b.jxl"_s;
        // b.jpg is replaced by another photo: its JXL is restored to a new name.
        QVERIFY(QFile::remove(b));
        photo(u"Pentax_K10D.jpg"_s, m_photos, u"b.jpg"_s);

        const QString djxl = countingTool(u"djxl"_s);
        const Run kept = cli(u"restore --json --djxl"_s, {djxl, aJxl, bJxl});
        QCOMPARE(kept.exitCode, 0);
        QCOMPARE(field(kept, aJxl, u"status"_s), u"skipped"_s);
        QCOMPARE(field(kept, aJxl, u"output"_s), a);
        QCOMPARE(field(kept, bJxl, u"status"_s), u"completed"_s);
        QCOMPARE(field(kept, bJxl, u"output"_s), m_photos + u"/b (1).jpg"_s);
        QCOMPARE(runsOf(u"djxl"_s), 1);
        QCOMPARE(TestEnv::readAll(m_photos + u"/b (1).jpg"_s), original(u"Nikon_D70.jpg"_s));
        QCOMPARE(TestEnv::readAll(b), original(u"Pentax_K10D.jpg"_s));
    }

    // An output folder (inside the tree, not walked) mirrors the tree below each folder named, a
    // lone photo below its folder's name, with modes and times; a restore mirrors it back.
    void outputFolderMirrorsTheTree()
    {
        const QString year = m_work + u"/Pictures/2019"_s;
        const QString summer = photo(u"Canon_40D.jpg"_s, year + u"/summer"_s, u"IMG_0001.jpg"_s);
        photo(u"Nikon_D70.jpg"_s, year + u"/winter"_s, u"IMG_0001.jpg"_s);
        const QString single = photo(u"Pentax_K10D.jpg"_s, m_work + u"/loose"_s, u"one.jpeg"_s);
        QCOMPARE(::chmod(QFile::encodeName(year + u"/summer"_s).constData(), 0750), 0);
        QCOMPARE(::chmod(QFile::encodeName(summer).constData(), 0640), 0);
        const QString out = year + u"/converted"_s;
        TestEnv::writeAll(out + u"/2019/winter/IMG_0001.jxl"_s, "not ours");
        const QString made = out + u"/2019/summer/IMG_0001.jxl"_s;

        const Run run = cli(u"compress --json -e 1 --output-dir"_s, {out, year, single});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(files(out), (QStringList{u"2019/summer/IMG_0001.jxl"_s, u"2019/winter/IMG_0001 (1).jxl"_s, u"2019/winter/IMG_0001.jxl"_s,
                                          u"loose/one.jxl"_s}));
        QCOMPARE(field(run, summer, u"output"_s), made);
        QCOMPARE(TestEnv::readAll(out + u"/2019/winter/IMG_0001.jxl"_s), QByteArray("not ours"));
        QCOMPARE(restored(made), original(u"Canon_40D.jpg"_s));
        QCOMPARE(restored(out + u"/2019/winter/IMG_0001 (1).jxl"_s), original(u"Nikon_D70.jpg"_s));
        QCOMPARE(restored(out + u"/loose/one.jxl"_s), original(u"Pentax_K10D.jpg"_s));
        struct stat status;
        QCOMPARE(::stat(QFile::encodeName(out + u"/2019/summer"_s).constData(), &status), 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0750));
        QCOMPARE(::stat(QFile::encodeName(made).constData(), &status), 0);
        QCOMPARE(status.st_mode & 0777, mode_t(0640));
        QCOMPARE(QFileInfo(made).lastModified(), QFileInfo(summer).lastModified());

        const QString back = m_work + u"/back"_s;
        QCOMPARE(cli(u"restore --output-dir"_s, {back, out + u"/2019/summer"_s}).exitCode, 0);
        QCOMPARE(TestEnv::readAll(back + u"/summer/IMG_0001.jpg"_s), original(u"Canon_40D.jpg"_s));
    }

    void filesFromTakesOddNames()
    {
        const QString spaced = photo(u"Canon_40D.jpg"_s, m_photos, u"with  space .jpg"_s);
        const QString broken = photo(u"Nikon_D70.jpg"_s, m_photos, u"new\nline.jpg"_s);
        const QByteArray rawName = QFile::encodeName(m_photos) + "/caf\xe9.jpg"; // Latin-1, not UTF-8
        QVERIFY(ServiceFixtures::writeNative(rawName, original(u"Pentax_K10D.jpg"_s)));
        const QString fakeEncoder = TestEnv::writeScript(m_work + u"/fake-cjxl"_s, TestEnv::writeFakeJxlCommand());

        const QByteArray list = QFile::encodeName(spaced) + '\0' + QFile::encodeName(broken) + '\0' + rawName + '\0';
        const Run run = cli(u"compress --json -0 --files-from - --cjxl"_s, {fakeEncoder}, list);
        QCOMPARE(run.exitCode, 1); // the photo without a UTF-8 name cannot run, and the caller hears of it
        QCOMPARE(run.jobs().size(), 3);
        QVERIFY(QFileInfo::exists(m_photos + u"/with  space .jxl"_s) && QFileInfo::exists(m_photos + u"/new\nline.jxl"_s));
        QCOMPARE(field(run, m_photos + u"/caf\\xE9.jpg"_s, u"status"_s), u"failed"_s);
        QCOMPARE(::unlink(rawName.constData()), 0); // no text path reaches it for the clean-up

    }

    void shardsTakeEveryPhotoOnce()
    {
        // The same tree under two different mount points splits alike.
        QStringList relative{u"a.jpg"_s, u"b.jpg"_s, u"x/c.jpg"_s, u"x/d.jpg"_s, u"x/y/e.jpg"_s, u"x/y/f.jpg"_s,
                             u"z/g.jpg"_s, u"z/h.jpg"_s, u"z/i i.jpg"_s, u"z/j.jpg"_s, u"k.jpg"_s, u"l.jpg"_s};
        relative.sort();
        const QStringList trees{m_work + u"/one/archive"_s, m_work + u"/mnt/nas/archive"_s};
        for (const QString &tree : trees) {
            for (const QString &path : relative) {
                const QFileInfo info(tree + u'/' + path);
                photo(u"Canon_40D.jpg"_s, info.absolutePath(), info.fileName());
            }
        }
        // A tool that always fails: every job reports its source and nothing is written.
        const QString failing = TestEnv::writeScript(m_work + u"/failing-cjxl"_s, "exit 1");
        for (const int count : {1, 3, 7}) {
            QList<QStringList> split;
            for (const QString &tree : trees) {
                QStringList all;
                QStringList shardsOf;
                for (int index = 0; index < count; ++index) {
                    const Run run = cli(u"compress --json --cjxl"_s, {failing, u"--shard"_s, u"%1/%2"_s.arg(index).arg(count), tree});
                    for (const QJsonObject &job : run.jobs()) {
                        const QString below = QDir(tree).relativeFilePath(job.value(u"source"_s).toString());
                        all.append(below);
                        shardsOf.append(u"%1:%2"_s.arg(index).arg(below));
                        // The hash the README documents: SHA-256's first 8 bytes, big-endian, mod N.
                        const QByteArray digest = QCryptographicHash::hash(below.toUtf8(), QCryptographicHash::Sha256);
                        QCOMPARE(int(qFromBigEndian<quint64>(digest.constData()) % quint64(count)), index);
                    }
                }
                all.sort();
                QCOMPARE(all, relative); // each photo exactly once
                shardsOf.sort();
                split.append(shardsOf);
            }
            QCOMPARE(split.at(0), split.at(1));
        }
        QCOMPARE(cli(u"compress --shard 3/3"_s, {m_work}).exitCode, 2);
    }
};

QTEST_GUILESS_MAIN(TestArchive)
#include "tst_archive.moc"
