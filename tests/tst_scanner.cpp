#include "engine/diskspaceguard.h"
#include "engine/filescanner.h"
#include "testenv.h"

#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();
constexpr qint64 kMargin = DiskSpaceGuard::safetyMargin;

QStringList paths(const QList<QUrl> &urls, bool sorted = false)
{
    QStringList list;
    for (const QUrl &url : urls)
        list.append(url.toLocalFile());
    if (sorted)
        list.sort();
    return list;
}

QStringList words(const char *text) { return QString::fromUtf8(text).split(u' ', Qt::SkipEmptyParts); }

TaskItem job(const QString &source, qint64 size, TaskStatus status = TaskStatus::pending)
{
    TaskItem item;
    item.sourceURL = QUrl::fromLocalFile(source);
    item.originalSize = size;
    item.status = status;
    return item;
}

} // namespace

// The folder walk (what counts as a photo, links, problems, names that are not UTF-8) and the
// disk check that follows it.
class TestScanner final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_dir;
    int m_case = 0;

    QString file(const QString &relative, qsizetype size = 1)
    {
        const QString path = QDir(m_dir).filePath(relative);
        TestEnv::writeAll(path, QByteArray(size, 'x'));
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void init()
    {
        m_dir = m_root.filePath(u"case%1"_s.arg(++m_case));
        QVERIFY(QDir().mkpath(m_dir));
    }

    void folderWalk()
    {
        const QString a = file(u"a.jpg"_s, 10);
        const QString d = file(u"d.jxl"_s, 40000);
        const QString e = file(u"sub/e.jpeg"_s, 500000);
        // A folder that only looks like a photo is searched, never listed itself.
        const QString inside = file(u"x.jpg/inside.JPG"_s, 8);
        QVERIFY(QDir().mkpath(m_dir + u"/empty.jxl"_s));
        // Hidden items and the insides of packages are not the user's loose photos.
        for (const QString &name : words(".hidden.jpg .hiddenfolder/f.jpg photo.png P.photoslibrary/o/1.jpg O.aplibrary/1.jxl "
                                         "V.app/1.jpg P.bundle/1.jpg K.framework/1.jpg U.PhotosLibrary/1.jpg"))
            file(name);
        // Of the links in a folder only one to a photo counts: a loop back to the top, one to a
        // folder and a dangling one are passed over.
        const QString linked = m_dir + u"/linked.jpg"_s;
        QVERIFY(QFile::link(a, linked) && QFile::link(m_dir, m_dir + u"/sub/loop"_s));
        QVERIFY(QFile::link(m_dir + u"/sub"_s, m_dir + u"/folder.jpg"_s));
        QVERIFY(QFile::link(m_dir + u"/gone.jpg"_s, m_dir + u"/dangling.jpg"_s));

        const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir)});
        QCOMPARE(paths(result.jpegFiles, true), (QStringList{a, linked, e, inside}));
        QCOMPARE(paths(result.jxlFiles), QStringList{d});
        QCOMPARE(result.totalJPEGBytes, 10 + 10 + 500000 + 8);
        QCOMPARE(result.totalJXLBytes, 40000);
        // A package named directly is not opened either.
        QVERIFY(FileScanner::scan({QUrl::fromLocalFile(m_dir + u"/V.app"_s)}).jpegFiles.isEmpty());
    }

    void extensions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind"); // 0 ignored, 1 JPEG, 2 JPEG XL
        const std::pair<const char *, int> rows[] = {{"a.jpeg", 1}, {"a.JPG", 1}, {"a.JXL", 2}, {"a.Jpg", 0}, {"a.Jxl", 0},
                                                     {"a.jpe", 0}, {"a.jpg.png", 0}, {"b.png.jpeg", 1}, {"a.jpg.", 0}, {"jpg", 0}};
        for (const auto &[name, kind] : rows)
            QTest::newRow(name) << QString::fromUtf8(name) << kind;
    }

    void extensions()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        const QString path = file(name);
        // The same rule whether the file is dropped itself or found in a folder.
        for (const QUrl &url : {QUrl::fromLocalFile(path), QUrl::fromLocalFile(m_dir)}) {
            const ScanResult result = FileScanner::scan({url});
            QCOMPARE(paths(result.jpegFiles), kind == 1 ? QStringList{path} : QStringList());
            QCOMPARE(paths(result.jxlFiles), kind == 2 ? QStringList{path} : QStringList());
            QCOMPARE(result.totalJPEGBytes + result.totalJXLBytes, qint64(kind != 0));
        }
    }

    void givenItemsInOrder()
    {
        const QString first = file(u"z-first.jpg"_s, 1);
        const QString inFolder = file(u"album/m.jpg"_s, 10);
        const QString jxl = file(u"album/r.jxl"_s, 1000);
        const QString hidden = file(u".hidden.jpg"_s, 42);
        const QString fifo = m_dir + u"/pipe.jpg"_s;
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QUrl album = QUrl::fromLocalFile(m_dir + u"/album"_s);
        const QUrl missing = QUrl::fromLocalFile(m_dir + u"/missing.jpg"_s);

        // Nothing is sorted or de-duplicated; a hidden file named directly is taken; a missing
        // file, a remote one, a pipe and other types are not.
        const ScanResult result = FileScanner::scan(
            {missing, QUrl::fromLocalFile(first), album, QUrl(u"https://example.org/a.jpg"_s),
             QUrl::fromLocalFile(fifo), QUrl::fromLocalFile(file(u"photo.png"_s)),
             QUrl::fromLocalFile(inFolder), QUrl::fromLocalFile(hidden), album});
        QCOMPARE(result.folderURL, missing);
        QCOMPARE(paths(result.jpegFiles), (QStringList{first, inFolder, inFolder, hidden, inFolder}));
        QCOMPARE(result.totalJPEGBytes, 1 + 10 + 10 + 42 + 10);
        QCOMPARE(paths(result.jxlFiles), (QStringList{jxl, jxl}));
        // Each file's import root: the folder named, or a file's own folder when it was named.
        QCOMPARE(result.jpegRoots, (QStringList{m_dir, album.toLocalFile(), album.toLocalFile(), m_dir, album.toLocalFile()}));
        // Only the missing file is a problem: the other items were there, just not photos.
        QCOMPARE(result.problems, (QList<ScanProblem>{{ScanProblem::Kind::missing, missing.toLocalFile(), ENOENT, false}}));
    }

    void linksLeadToTheFileTheyName_data()
    {
        // Made beside album/a.jpg, album/b.jpg and album/c.jxl: "name>target" a symbolic link,
        // "name=target" a hard link (targets relative to the link's folder, as ln -s takes them).
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<QStringList>("jobs"); // one per file, the first way met, sorted
        const auto row = [](const char *name, const char *links, const char *given, const char *jobs) {
            QTest::newRow(name) << words(links) << words(given) << words(jobs);
        };
        // (A link beside its photo, or named before its folder: tst_importservice.)
        row("link walked before its photo", "x/l.jpg>../album/a.jpg", "x album", "album/a.jpg album/b.jpg");
        row("links only: the first one met", "x/l1.jpg>../album/a.jpg x/l2.jpg>../album/a.jpg", "x/l2.jpg x/l1.jpg", "x/l2.jpg");
        row("a link to a link", "x/l1.jpg>../album/a.jpg x/l2.jpg>l1.jpg", "x album/a.jpg", "album/a.jpg");
        row("folder named through a link", "lnk>album", "lnk album", "lnk/a.jpg lnk/b.jpg");
        row("file named through a linked folder", "lnk>album", "lnk/a.jpg album", "album/b.jpg lnk/a.jpg");
        // Each name of a hard-linked photo is the photo itself; disposing of one leaves the other.
        row("hard links stay apart", "album/h.jpg=a.jpg", "album", "album/a.jpg album/b.jpg album/h.jpg");
        row("restoring", "l.jxl>album/c.jxl", "l.jxl album", "album/c.jxl");
    }

    void linksLeadToTheFileTheyName()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, given);
        QFETCH(QStringList, jobs);
        const bool restore = jobs.first().endsWith(u".jxl"_s);
        for (const QString &name : words("album/a.jpg album/b.jpg album/c.jxl"))
            file(name);
        const QDir dir(m_dir);
        for (const QString &link : links) {
            const bool hard = link.contains(QLatin1Char('='));
            const QStringList parts = link.split(hard ? QLatin1Char('=') : QLatin1Char('>'));
            const QString at = dir.filePath(parts.first());
            QVERIFY(dir.mkpath(QFileInfo(at).path()));
            const QByteArray name = QFile::encodeName(at);
            QCOMPARE(hard ? ::link(QFile::encodeName(QFileInfo(at).dir().filePath(parts.last())).constData(), name.constData())
                          : ::symlink(QFile::encodeName(parts.last()).constData(), name.constData()), 0);
        }
        QList<QUrl> urls;
        for (const QString &path : given)
            urls.append(QUrl::fromLocalFile(dir.filePath(path)));
        const ScanResult result = FileScanner::scan(urls);
        const QList<QUrl> &files = restore ? result.jxlFiles : result.jpegFiles;

        QSet<QString> seen;
        QStringList kept;
        FileScanner::forEachPhoto(result, restore ? ConversionMode::jxlToJPEG : ConversionMode::jpegToJXL,
                                  [&](qsizetype i, const QString &path, const QString &realPath) {
            QCOMPARE(path, files.at(i).toLocalFile());
            QCOMPARE(realPath, QFileInfo(path).canonicalFilePath());
            if (!seen.contains(realPath))
                kept.append(dir.relativeFilePath(path));
            seen.insert(realPath);
        });
        kept.sort();
        QCOMPARE(kept, jobs);
    }

    void streamReadsInPartsWhatTheScanReads()
    {
        // Photos at every depth, a folder that holds none, a missing path between two given ones,
        // a folder given through a link and a link to a photo.
        for (const QString &name : words("a.jpg b.jxl deep/c.jpg deep/er/d.jpg deep/er/e.jxl deep/er/st/f.jpg empty/x.txt "
                                         "g.jpg other/h.jpg"))
            file(name, name.size());
        QVERIFY(QFile::link(m_dir + u"/g.jpg"_s, m_dir + u"/deep/er/g.jpg"_s));
        QVERIFY(QFile::link(m_dir + u"/other"_s, m_dir + u"/other-link"_s));
        const QList<QUrl> urls{QUrl::fromLocalFile(m_dir + u"/deep"_s), QUrl::fromLocalFile(m_dir + u"/missing"_s),
                               QUrl::fromLocalFile(m_dir + u"/other-link/h.jpg"_s), QUrl::fromLocalFile(m_dir)};
        const ScanResult whole = FileScanner::scan(urls);
        QCOMPARE(whole.jpegFiles.size() + whole.jxlFiles.size(), 15);
        QCOMPARE(whole.linkTargets.size(), 1); // the link is met twice, under one path
        QCOMPARE(whole.realFolders.size(), 1);
        QCOMPARE(whole.problems.size(), 1);

        ScanStream stream(urls);
        ScanResult joined;
        int parts = 0;
        for (; !stream.atEnd(); ++parts) {
            const ScanResult part = stream.next(2);
            QVERIFY(part.jpegFiles.size() + part.jxlFiles.size() <= 2);
            joined.jpegFiles += part.jpegFiles;
            joined.jpegSizes += part.jpegSizes;
            joined.jpegRoots += part.jpegRoots;
            joined.jxlFiles += part.jxlFiles;
            joined.jxlRoots += part.jxlRoots;
            joined.totalJPEGBytes += part.totalJPEGBytes + part.totalJXLBytes;
            joined.problems += part.problems;
            joined.linkTargets.insert(part.linkTargets);
            joined.realFolders.insert(part.realFolders);
        }
        QVERIFY(parts >= 7);
        const auto fields = [](const ScanResult &r, qint64 bytes) {
            return std::tuple(r.jpegFiles, r.jpegSizes, r.jpegRoots, r.jxlFiles, r.jxlRoots, bytes, r.problems, r.linkTargets, r.realFolders);
        };
        QVERIFY(fields(joined, joined.totalJPEGBytes) == fields(whole, whole.totalJPEGBytes + whole.totalJXLBytes));
        // Read to the end, it gives nothing more.
        const ScanResult after = stream.next(2);
        QVERIFY(after.jpegFiles.isEmpty() && after.jxlFiles.isEmpty() && after.problems.isEmpty());
    }

    void problemsAreReported()
    {
        const QString photo = file(u"open/a.jpg"_s, 5);
        file(u"open/closed/b.jpg"_s, 7);
        const QString closed = m_dir + u"/open/closed"_s;
        // A folder that may be listed but not entered: its photos are found, their sizes unknown.
        const QString unsized = file(u"open/listed/c.jpg"_s, 9);
        const QString listed = m_dir + u"/open/listed"_s;
        QVERIFY(QFile::setPermissions(listed, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QString plain = file(u"plain.txt"_s);
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        // As root a closed folder is only closed after giving up the effective user id.
        for (const QString &folder : QStringList{m_root.path(), m_dir, m_dir + u"/open"_s})
            QVERIFY(QFile::setPermissions(folder, QFile::permissions(folder) | QFile::ReadGroup | QFile::ExeGroup
                                                      | QFile::ReadOther | QFile::ExeOther));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0);
        const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir + u"/open"_s),
                                                     QUrl::fromLocalFile(plain + u"/x.jpg"_s),
                                                     QUrl::fromLocalFile(closed + u"/b.jpg"_s)});
        if (root)
            QCOMPARE(::seteuid(0), 0);
        for (const QString &folder : {closed, listed})
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QStringList sized;
        for (qsizetype i = 0; i < result.jpegFiles.size(); ++i)
            sized.append(result.jpegFiles.at(i).toLocalFile() + u'=' + QString::number(result.jpegSizes.at(i)));
        sized.sort();
        QCOMPARE(sized, (QStringList{photo + u"=5"_s, unsized + u"=-1"_s}));
        QCOMPARE(result.totalJPEGBytes, 5);
        const QList<ScanProblem> expected{{ScanProblem::Kind::unreadableFolder, closed, EACCES, false},
                                          {ScanProblem::Kind::missing, plain + u"/x.jpg"_s, ENOTDIR, false},
                                          {ScanProblem::Kind::inaccessible, closed + u"/b.jpg"_s, EACCES, false}};
        QCOMPARE(result.problems, expected);
        // The message carries the system's reason.
        QVERIFY(result.problems.first().message().endsWith(closed + u" (Permission denied)"_s));
    }

    // A name that is not UTF-8 is shown with its bytes escaped, and stands for no other file.
    // (The look-alike beside it, through a scan: tst_importservice.)
    void displayPaths()
    {
        for (const auto &[native, shown] : {std::pair{"/照片/猫.jpg", "/照片/猫.jpg"}, {"/caf\xE9.jpg", "/caf\\xE9.jpg"},
                                            {"/\xE7\x85.jpg", "/\\xE7\\x85.jpg"}, {"/\xC0\xAF.jpg", "/\\xC0\\xAF.jpg"}}) {
            QCOMPARE(FileScanner::displayPath(native), QString::fromUtf8(shown));
            QCOMPARE(FileScanner::isRepresentable(native), !QByteArray(shown).contains("\\x"));
        }
    }

    void guardNeedAndMargin()
    {
        // Only waiting jobs (pending, failed) count, plus the margin: one job of each status here.
        QList<TaskItem> tasks;
        for (int i = 0; i <= int(TaskStatus::skipped); ++i)
            tasks.append(job(m_dir + u"/%1.jpg"_s.arg(i), qint64(1) << i, TaskStatus(i)));
        const qint64 waiting = (1 << int(TaskStatus::pending)) + (1 << int(TaskStatus::failed)) + kMargin;
        DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity(tasks);
        QVERIFY(check.isSafe && check.needed == waiting && check.volumePath == m_dir);
        QCOMPARE(DiskSpaceGuard::validateCapacity({tasks.at(1)}, m_dir).needed, 0); // no margin when none waits

        // Refused when the outputs fit but the margin does not; an output folder not made yet
        // is measured on its nearest existing ancestor.
        const qint64 available = DiskSpaceGuard::getAvailableDiskSpace(m_dir);
        TaskItem huge = job(m_dir + u"/huge.jpg"_s, available);
        huge.destinationURL = QUrl::fromLocalFile(m_dir + u"/out/year/month/huge.jxl"_s);
        check = DiskSpaceGuard::validateCapacity({huge});
        QVERIFY(!check.isSafe && check.needed == available + kMargin && check.volumePath == m_dir);

        // The margin takes at most a twentieth of a small volume: a card of 200 MiB keeps 10 MiB.
        // A volume of unknown size keeps all of it.
        QCOMPARE(DiskSpaceGuard::marginFor(200 * 1024 * 1024), 10 * 1024 * 1024);
        QVERIFY(DiskSpaceGuard::marginFor(qint64(1) << 40) == kMargin && DiskSpaceGuard::marginFor(0) == kMargin);

        // An unmeasurable volume never blocks, even against the largest possible need.
        const QString nowhere = m_dir + u"/no/such/folder"_s;
        check = DiskSpaceGuard::validateCapacity({job(m_dir + u"/a.jpg"_s, kUnlimited - kMargin)}, nowhere);
        QVERIFY(check.isSafe && check.available == kUnlimited && check.needed == kUnlimited);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
