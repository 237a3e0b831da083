#include "engine/diskspaceguard.h"
#include "engine/filescanner.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QDir>
#include <QSet>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <limits>

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

TaskItem job(const QString &source, qint64 size, TaskStatus status = TaskStatus::pending)
{
    TaskItem item;
    item.sourceURL = QUrl::fromLocalFile(source);
    item.originalSize = size;
    item.status = status;
    return item;
}

} // namespace

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
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
    }

    void init()
    {
        m_dir = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
        QVERIFY(QDir().mkpath(m_dir));
    }

    void folderWalk()
    {
        const QString a = file(QStringLiteral("a.jpg"), 10);
        const QString d = file(QStringLiteral("d.jxl"), 40000);
        const QString e = file(QStringLiteral("sub/e.jpeg"), 500000);
        // A folder that only looks like a photo is searched, never listed itself.
        const QString inside = file(QStringLiteral("x.jpg/inside.JPG"), 8);
        QVERIFY(QDir().mkpath(m_dir + QStringLiteral("/empty.jxl")));
        // Hidden items and the insides of packages are not the user's loose photos.
        for (const char *name : {".hidden.jpg", ".hiddenfolder/f.jpg", "photo.png", "P.photoslibrary/o/1.jpg",
                                 "O.aplibrary/1.jxl", "V.app/1.jpg", "P.bundle/1.jpg", "K.framework/1.jpg",
                                 "U.PhotosLibrary/1.jpg"})
            file(QString::fromLatin1(name));
        // Of the links in a folder only one to a photo counts: a loop back to the top, one to a
        // folder and a dangling one are passed over.
        const QString linked = m_dir + QStringLiteral("/linked.jpg");
        QVERIFY(QFile::link(a, linked) && QFile::link(m_dir, m_dir + QStringLiteral("/sub/loop")));
        QVERIFY(QFile::link(m_dir + QStringLiteral("/sub"), m_dir + QStringLiteral("/folder.jpg")));
        QVERIFY(QFile::link(m_dir + QStringLiteral("/gone.jpg"), m_dir + QStringLiteral("/dangling.jpg")));

        const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir)});
        QCOMPARE(paths(result.jpegFiles, true), (QStringList{a, linked, e, inside}));
        QCOMPARE(paths(result.jxlFiles), QStringList{d});
        QCOMPARE(result.totalJPEGBytes, 10 + 10 + 500000 + 8);
        QCOMPARE(result.totalJXLBytes, 40000);
        // Each file's own size, beside it: the import takes them instead of reading every file again.
        QList<qint64> jpegSizes = result.jpegSizes;
        std::sort(jpegSizes.begin(), jpegSizes.end());
        QCOMPARE(jpegSizes, (QList<qint64>{8, 10, 10, 500000}));
        QCOMPARE(result.jxlSizes, QList<qint64>{40000});
        // A trailing slash changes nothing; a package named directly is not opened either.
        QCOMPARE(FileScanner::scan({QUrl::fromLocalFile(m_dir + QLatin1Char('/'))}).jpegFiles, result.jpegFiles);
        QVERIFY(FileScanner::scan({QUrl::fromLocalFile(m_dir + QStringLiteral("/V.app"))}).jpegFiles.isEmpty());
    }

    void extensions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind"); // 0 ignored, 1 JPEG, 2 JPEG XL
        const std::pair<const char *, int> rows[] = {
            {"a.jpg", 1}, {"a.jpeg", 1}, {"a.JPG", 1}, {"a.JPEG", 1}, {"a.jxl", 2}, {"a.JXL", 2}, {"a.Jpg", 0},
            {"a.JPeg", 0}, {"a.Jxl", 0}, {"a.jpe", 0}, {"a.jpg.png", 0}, {"b.png.jpeg", 1}, {"a.jpg.", 0},
            {"jpg", 0}, {"我的 照片.jpg", 1}};
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
        QCOMPARE(FileScanner::scan({}).folderURL, QUrl::fromLocalFile(QStringLiteral("/")));
        const QString first = file(QStringLiteral("z-first.jpg"), 1);
        const QString inFolder = file(QStringLiteral("album/m.jpg"), 10);
        const QString jxl = file(QStringLiteral("album/r.jxl"), 1000);
        const QString hidden = file(QStringLiteral(".hidden.jpg"), 42);
        const QString fifo = m_dir + QStringLiteral("/pipe.jpg");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QUrl album = QUrl::fromLocalFile(m_dir + QStringLiteral("/album"));
        const QUrl missing = QUrl::fromLocalFile(m_dir + QStringLiteral("/missing.jpg"));

        // Nothing is sorted or de-duplicated; a hidden file named directly is taken; a missing
        // file, a remote one, a pipe and other types are not.
        const ScanResult result = FileScanner::scan(
            {missing, QUrl::fromLocalFile(first), album, QUrl(QStringLiteral("https://example.org/a.jpg")),
             QUrl::fromLocalFile(fifo), QUrl::fromLocalFile(file(QStringLiteral("photo.png"))),
             QUrl::fromLocalFile(inFolder), QUrl::fromLocalFile(hidden), album});
        QCOMPARE(result.folderURL, missing);
        QCOMPARE(paths(result.jpegFiles), (QStringList{first, inFolder, inFolder, hidden, inFolder}));
        QCOMPARE(result.totalJPEGBytes, 1 + 10 + 10 + 42 + 10);
        QCOMPARE(paths(result.jxlFiles), (QStringList{jxl, jxl}));
        QCOMPARE(result.totalJXLBytes, 2000);
        // Each file's import root: the folder named, or a file's own folder when it was named.
        const QString albumPath = album.toLocalFile();
        QCOMPARE(result.jpegRoots, (QStringList{m_dir, albumPath, albumPath, m_dir, albumPath}));
        QCOMPARE(result.jxlRoots, (QStringList{albumPath, albumPath}));
        // Only the missing file is a problem: the other items were there, just not photos.
        QCOMPARE(result.problems.size(), 1);
        QCOMPARE(result.problems.first().kind, ScanProblem::Kind::missing);
        QCOMPARE(result.problems.first().message(), QStringLiteral("找不到指定文件: ") + missing.toLocalFile());
    }

    void linksLeadToTheFileTheyName_data()
    {
        // Made beside album/a.jpg, album/b.jpg and album/c.jxl: "name>target" a symbolic link,
        // "name=target" a hard link (targets relative to the link's folder, as ln -s takes them).
        QTest::addColumn<QStringList>("links");
        QTest::addColumn<QStringList>("given");
        QTest::addColumn<bool>("restore");
        QTest::addColumn<QStringList>("jobs"); // one per file, the first way met, sorted
        const auto row = [](const char *name, QStringList links, QStringList given, QStringList jobs, bool restore = false) {
            QTest::newRow(name) << links << given << restore << jobs;
        };
        const QStringList ab{QStringLiteral("album/a.jpg"), QStringLiteral("album/b.jpg")};
        row("link beside its photo", {QStringLiteral("album/l.jpg>a.jpg")}, {QStringLiteral("album")}, ab);
        row("link named before its photo's folder", {QStringLiteral("l.jpg>album/a.jpg")},
            {QStringLiteral("l.jpg"), QStringLiteral("album")}, ab);
        row("link walked before its photo", {QStringLiteral("x/l.jpg>../album/a.jpg")},
            {QStringLiteral("x"), QStringLiteral("album")}, ab);
        row("links only: the first one met", {QStringLiteral("x/l1.jpg>../album/a.jpg"), QStringLiteral("x/l2.jpg>../album/a.jpg")},
            {QStringLiteral("x/l2.jpg"), QStringLiteral("x/l1.jpg")}, {QStringLiteral("x/l2.jpg")});
        row("a link to a link", {QStringLiteral("x/l1.jpg>../album/a.jpg"), QStringLiteral("x/l2.jpg>l1.jpg")},
            {QStringLiteral("x"), QStringLiteral("album/a.jpg")}, {QStringLiteral("album/a.jpg")});
        row("folder named through a link", {QStringLiteral("lnk>album")}, {QStringLiteral("lnk"), QStringLiteral("album")},
            {QStringLiteral("lnk/a.jpg"), QStringLiteral("lnk/b.jpg")});
        row("file named through a linked folder", {QStringLiteral("lnk>album")},
            {QStringLiteral("lnk/a.jpg"), QStringLiteral("album")}, {QStringLiteral("album/b.jpg"), QStringLiteral("lnk/a.jpg")});
        // Each name of a hard-linked photo is the photo itself; disposing of one leaves the other.
        row("hard links stay apart", {QStringLiteral("album/h.jpg=a.jpg")}, {QStringLiteral("album")},
            ab + QStringList{QStringLiteral("album/h.jpg")});
        row("restoring", {QStringLiteral("l.jxl>album/c.jxl")}, {QStringLiteral("l.jxl"), QStringLiteral("album")},
            {QStringLiteral("album/c.jxl")}, true);
    }

    void linksLeadToTheFileTheyName()
    {
        QFETCH(QStringList, links);
        QFETCH(QStringList, given);
        QFETCH(bool, restore);
        QFETCH(QStringList, jobs);
        for (const char *name : {"album/a.jpg", "album/b.jpg", "album/c.jxl"})
            file(QString::fromLatin1(name));
        const QDir dir(m_dir);
        for (const QString &link : links) {
            const bool hard = link.contains(QLatin1Char('='));
            const QStringList parts = link.split(hard ? QLatin1Char('=') : QLatin1Char('>'));
            const QString at = dir.filePath(parts.first());
            QVERIFY(dir.mkpath(QFileInfo(at).path()));
            const QByteArray target = QFile::encodeName(parts.last());
            QCOMPARE(hard ? ::link(QFile::encodeName(QFileInfo(at).dir().filePath(parts.last())).constData(),
                                   QFile::encodeName(at).constData())
                          : ::symlink(target.constData(), QFile::encodeName(at).constData()),
                     0);
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
        for (const char *name : {"a.jpg", "b.jxl", "deep/c.jpg", "deep/er/d.jpg", "deep/er/e.jxl", "deep/er/st/f.jpg",
                                 "empty/x.txt", "g.jpg", "other/h.jpg"})
            file(QString::fromLatin1(name), qsizetype(std::strlen(name)));
        QVERIFY(QFile::link(m_dir + QStringLiteral("/g.jpg"), m_dir + QStringLiteral("/deep/er/g.jpg")));
        QVERIFY(QFile::link(m_dir + QStringLiteral("/other"), m_dir + QStringLiteral("/other-link")));
        const QList<QUrl> urls{QUrl::fromLocalFile(m_dir + QStringLiteral("/deep")),
                               QUrl::fromLocalFile(m_dir + QStringLiteral("/missing")),
                               QUrl::fromLocalFile(m_dir + QStringLiteral("/other-link/h.jpg")), QUrl::fromLocalFile(m_dir)};
        const ScanResult whole = FileScanner::scan(urls);
        QCOMPARE(whole.jpegFiles.size() + whole.jxlFiles.size(), 15);
        QCOMPARE(whole.linkTargets.size(), 1); // the link is met twice, under one path
        QCOMPARE(whole.realFolders.size(), 1);

        ScanStream stream(urls);
        ScanResult joined;
        int parts = 0;
        while (!stream.atEnd()) {
            const ScanResult part = stream.next(2);
            ++parts;
            QVERIFY(part.jpegFiles.size() + part.jxlFiles.size() <= 2);
            joined.jpegFiles += part.jpegFiles;
            joined.jpegSizes += part.jpegSizes;
            joined.jpegRoots += part.jpegRoots;
            joined.jxlFiles += part.jxlFiles;
            joined.jxlSizes += part.jxlSizes;
            joined.jxlRoots += part.jxlRoots;
            joined.totalJPEGBytes += part.totalJPEGBytes;
            joined.totalJXLBytes += part.totalJXLBytes;
            joined.problems += part.problems;
            joined.linkTargets.insert(part.linkTargets);
            joined.realFolders.insert(part.realFolders);
        }
        QVERIFY(parts >= 7);
        QCOMPARE(joined.jpegFiles, whole.jpegFiles);
        QCOMPARE(joined.jpegSizes, whole.jpegSizes);
        QCOMPARE(joined.jpegRoots, whole.jpegRoots);
        QCOMPARE(joined.jxlFiles, whole.jxlFiles);
        QCOMPARE(joined.jxlSizes, whole.jxlSizes);
        QCOMPARE(joined.jxlRoots, whole.jxlRoots);
        QCOMPARE(joined.totalJPEGBytes, whole.totalJPEGBytes);
        QCOMPARE(joined.totalJXLBytes, whole.totalJXLBytes);
        QCOMPARE(joined.problems, whole.problems);
        QCOMPARE(joined.problems.size(), 1);
        QCOMPARE(joined.linkTargets, whole.linkTargets);
        QCOMPARE(joined.realFolders, whole.realFolders);
        // Read to the end, it gives nothing more.
        const ScanResult after = stream.next(2);
        QVERIFY(after.jpegFiles.isEmpty() && after.jxlFiles.isEmpty() && after.problems.isEmpty());
    }

    void problemsAreReported()
    {
        const QString photo = file(QStringLiteral("open/a.jpg"), 5);
        file(QStringLiteral("open/closed/b.jpg"), 7);
        const QString closed = m_dir + QStringLiteral("/open/closed");
        // A folder that may be listed but not entered: its photos are found, their sizes unknown.
        const QString unsized = file(QStringLiteral("open/listed/c.jpg"), 9);
        const QString listed = m_dir + QStringLiteral("/open/listed");
        QVERIFY(QFile::setPermissions(listed, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        const QString plain = file(QStringLiteral("plain.txt"));
        QVERIFY(QFile::setPermissions(closed, QFileDevice::Permissions()));
        // As root a closed folder is only closed after giving up the effective user id.
        for (const QString &folder : QStringList{m_root.path(), m_dir, m_dir + QStringLiteral("/open")})
            QVERIFY(QFile::setPermissions(folder, QFile::permissions(folder) | QFile::ReadGroup | QFile::ExeGroup
                                                      | QFile::ReadOther | QFile::ExeOther));
        const bool root = ::geteuid() == 0;
        if (root)
            QCOMPARE(::seteuid(65534), 0);
        const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir + QStringLiteral("/open")),
                                                     QUrl::fromLocalFile(plain + QStringLiteral("/x.jpg")),
                                                     QUrl::fromLocalFile(closed + QStringLiteral("/b.jpg"))});
        if (root)
            QCOMPARE(::seteuid(0), 0);
        for (const QString &folder : {closed, listed})
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QStringList sized;
        for (qsizetype i = 0; i < result.jpegFiles.size(); ++i)
            sized.append(result.jpegFiles.at(i).toLocalFile() + u'=' + QString::number(result.jpegSizes.at(i)));
        sized.sort();
        QCOMPARE(sized, (QStringList{photo + QStringLiteral("=5"), unsized + QStringLiteral("=-1")}));
        QCOMPARE(result.totalJPEGBytes, 5);
        const QList<ScanProblem> expected{{ScanProblem::Kind::unreadableFolder, closed, EACCES, false},
                                          {ScanProblem::Kind::missing, plain + QStringLiteral("/x.jpg"), ENOTDIR, false},
                                          {ScanProblem::Kind::inaccessible, closed + QStringLiteral("/b.jpg"), EACCES, false}};
        QCOMPARE(result.problems, expected);
        QCOMPARE(result.problems.first().message(), QStringLiteral("无法读取文件夹: ") + closed + QStringLiteral(" (Permission denied)"));
        QCOMPARE(result.problems.last().message(), QStringLiteral("无法访问: ") + closed + QStringLiteral("/b.jpg (Permission denied)"));
    }

    void namesThatAreNotUtf8NeverStandForOthers()
    {
        // "\xFF.jpg" would decode to "\uFFFD.jpg", which is a real, different file here.
        const QByteArray folder = QFile::encodeName(m_dir);
        const auto make = [&](const QByteArray &relative, const QByteArray &content) {
            const QByteArray path = QByteArray(folder + '/' + relative);
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
            ::close(fd);
        };
        make("\xFF.jpg", "raw");
        make("\xEF\xBF\xBD.jpg", "the real replacement character");
        QCOMPARE(::mkdir(QByteArray(folder + "/caf\xE9").constData(), 0755), 0);
        make("caf\xE9/ok.jxl", "inside a folder with a Latin-1 name");
        make("caf\xE9/notes.txt", "not a photo");

        const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir)});
        QCOMPARE(paths(result.jpegFiles), QStringList{m_dir + QStringLiteral("/\uFFFD.jpg")});
        QCOMPARE(result.totalJPEGBytes, 30);
        QVERIFY(result.jxlFiles.isEmpty());
        QCOMPARE(result.totalJXLBytes, 0);
        // Their sizes are read as any other photo's.
        const QList<ScanProblem> expected{{ScanProblem::Kind::undecodableName, m_dir + QStringLiteral("/\\xFF.jpg"), 0, false, 3},
                                          {ScanProblem::Kind::undecodableName, m_dir + QStringLiteral("/caf\\xE9/ok.jxl"), 0, true, 35}};
        QList<ScanProblem> problems = result.problems;
        std::sort(problems.begin(), problems.end(), [](const auto &a, const auto &b) { return a.path < b.path; });
        QCOMPARE(problems, expected);
        QCOMPARE(problems.first().message(),
                 QStringLiteral("文件名不是有效的 UTF-8 编码，无法处理: ") + m_dir + QStringLiteral("/\\xFF.jpg"));
        QCOMPARE(problems.first().reason(), QStringLiteral("文件名不是有效的 UTF-8 编码，无法处理"));
        // QDir cannot name these either, so the temporary folder could not remove them.
        for (const char *name : {"/\xFF.jpg", "/caf\xE9/ok.jxl", "/caf\xE9/notes.txt"})
            QCOMPARE(::unlink(QByteArray(folder + name).constData()), 0);
        QCOMPARE(::rmdir(QByteArray(folder + "/caf\xE9").constData()), 0);
    }

    void displayPaths_data()
    {
        QTest::addColumn<QByteArray>("native");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ascii") << QByteArray("/a/b.jpg") << QStringLiteral("/a/b.jpg");
        QTest::newRow("utf-8") << QByteArray("/照片/猫.jpg") << QString::fromUtf8("/照片/猫.jpg");
        QTest::newRow("latin-1") << QByteArray("/caf\xE9.jpg") << QStringLiteral("/caf\\xE9.jpg");
        QTest::newRow("cut character") << QByteArray("/\xE7\x85.jpg") << QStringLiteral("/\\xE7\\x85.jpg");
        QTest::newRow("overlong slash") << QByteArray("/\xC0\xAF.jpg") << QStringLiteral("/\\xC0\\xAF.jpg");
        QTest::newRow("mixed") << QByteArray("/猫\xFF猫") << QString::fromUtf8("/猫\\xFF猫");
    }

    void displayPaths()
    {
        QFETCH(QByteArray, native);
        QFETCH(QString, shown);
        QCOMPARE(FileScanner::displayPath(native), shown);
        QCOMPARE(FileScanner::isRepresentable(native), !shown.contains(QStringLiteral("\\x")));
    }

    void estimatedSavings()
    {
        // A quarter of the JPEG bytes, with no overflow beyond 32 bits.
        ScanResult result;
        result.totalJPEGBytes = 4'000'000'000'003;
        QCOMPARE(result.estimatedSavedBytes(), 1'000'000'000'000);
    }

    void guardNeedAndMargin()
    {
        // Only waiting jobs (pending, failed) count, plus the margin: one job of each status here.
        QList<TaskItem> tasks;
        for (int i = 0; i <= int(TaskStatus::skipped); ++i)
            tasks.append(job(m_dir + QStringLiteral("/%1.jpg").arg(i), qint64(1) << i, TaskStatus(i)));
        const qint64 waiting = (1 << int(TaskStatus::pending)) + (1 << int(TaskStatus::failed)) + kMargin;
        QCOMPARE(DiskSpaceGuard::validateCapacity(tasks, m_dir).needed, waiting);
        DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity(tasks);
        QVERIFY(check.isSafe && check.needed == waiting && check.volumePath == m_dir);
        QCOMPARE(DiskSpaceGuard::validateCapacity({tasks.at(1)}, m_dir).needed, 0); // no margin when none waits

        // Refused when the outputs fit but the margin does not; an output folder not made yet
        // is measured on its nearest existing ancestor.
        const qint64 available = DiskSpaceGuard::getAvailableDiskSpace(m_dir);
        QVERIFY(available > 0 && available < kUnlimited);
        TaskItem huge = job(m_dir + QStringLiteral("/huge.jpg"), available);
        huge.destinationURL = QUrl::fromLocalFile(m_dir + QStringLiteral("/out/year/month/huge.jxl"));
        for (const DiskSpaceGuard::CapacityCheck &refused :
             {DiskSpaceGuard::validateCapacity({huge}, m_dir), DiskSpaceGuard::validateCapacity({huge})}) {
            QVERIFY(!refused.isSafe);
            QCOMPARE(refused.needed, available + kMargin);
            QCOMPARE(refused.volumePath, m_dir);
        }

        // The margin takes at most a twentieth of a small volume: 16.5 MB of photos fit a card
        // of 200 MiB, which keeps 10 MiB.
        QCOMPARE(DiskSpaceGuard::marginFor(qint64(1) << 40), kMargin);
        QCOMPARE(DiskSpaceGuard::marginFor(0), kMargin); // size unknown
        ScratchVolume card(m_dir + QStringLiteral("/card"), 200 * 1024 * 1024);
        if (card.isMounted()) {
            check = DiskSpaceGuard::validateCapacity({job(card.folder() + QStringLiteral("/a.jpg"), 16'500'000)}, card.folder());
            QVERIFY(check.isSafe);
            QCOMPARE(check.needed, 16'500'000 + 10 * 1024 * 1024);
        }

        // An unmeasurable volume never blocks, even against the largest possible need.
        const QString nowhere = m_dir + QStringLiteral("/no/such/folder");
        QCOMPARE(DiskSpaceGuard::getAvailableDiskSpace(nowhere), kUnlimited);
        tasks = {job(m_dir + QStringLiteral("/a.jpg"), kUnlimited - kMargin)};
        check = DiskSpaceGuard::validateCapacity(tasks, nowhere);
        QVERIFY(check.isSafe && check.available == kUnlimited && check.needed == kUnlimited);
    }

    void guardPerVolume()
    {
        QTemporaryDir there(QStringLiteral("/dev/shm/pikora-guard-XXXXXX"));
        if (!there.isValid() || QStorageInfo(there.path()) == QStorageInfo(m_dir))
            QSKIP("needs /dev/shm on a volume of its own");
        const qint64 roomHere = DiskSpaceGuard::getAvailableDiskSpace(m_dir);
        if (qMin(DiskSpaceGuard::getAvailableDiskSpace(there.path()), roomHere) < 2 * kMargin)
            QSKIP("not enough free space to tell the volumes apart");

        // Each volume carries its own jobs and margin, measured where the output goes: one short
        // volume refuses the batch and is the one reported, though the other has room.
        TaskItem moved = job(there.filePath(QStringLiteral("e.jpg")), roomHere);
        moved.destinationURL = QUrl::fromLocalFile(m_dir + QStringLiteral("/e.jxl"));
        const DiskSpaceGuard::CapacityCheck check =
            DiskSpaceGuard::validateCapacity({job(there.filePath(QStringLiteral("f.jpg")), 10), moved});
        QVERIFY(!check.isSafe);
        QCOMPARE(check.volumePath, m_dir);
        QCOMPARE(check.needed, roomHere + kMargin);
    }
};

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
