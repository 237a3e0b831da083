#include "engine/diskspaceguard.h"
#include "engine/filescanner.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <sys/stat.h>
#include <unistd.h>

#include <limits>

namespace {

constexpr qint64 kUnlimited = std::numeric_limits<qint64>::max();

QStringList localPaths(const QList<QUrl> &urls)
{
    QStringList paths;
    for (const QUrl &url : urls)
        paths.append(url.toLocalFile());
    return paths;
}

QStringList sorted(QStringList list)
{
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

qint64 deviceOf(const QString &path)
{
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return qint64(info.st_dev);
}

} // namespace

class TestScanner final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void emptyList();
    void folderMixedNames();
    void extensionsAreCaseSensitive_data();
    void extensionsAreCaseSensitive();
    void givenOrderAndDuplicatesKept();
    void packagesNotSearched_data();
    void packagesNotSearched();
    void symbolicLinks();
    void ignoredDirectItems();
    void unreadableSubfolderSkipped();
    void estimatedSavings_data();
    void estimatedSavings();
    void concurrentScansAgree();

    void guardNothingWaiting();
    void guardCountsWaitingJobs_data();
    void guardCountsWaitingJobs();
    void guardUnmeasurablePath();
    void guardRefusesWhenShort();
    void guardPerVolume();
    void guardOutputFolderNotYetMade();
    void warningText();

private:
    QString file(const QString &relative, qsizetype size = 1);

    QTemporaryDir m_root;
    QString m_dir;
    int m_case = 0;
};

void TestScanner::initTestCase()
{
    QVERIFY(m_root.isValid());
    TestEnv::isolateHome(m_root.path());
    QStandardPaths::setTestModeEnabled(true);
}

void TestScanner::init()
{
    m_dir = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
    QVERIFY(QDir().mkpath(m_dir));
}

QString TestScanner::file(const QString &relative, qsizetype size)
{
    const QString path = QDir(m_dir).filePath(relative);
    TestEnv::writeAll(path, QByteArray(size, 'x'));
    return path;
}

void TestScanner::emptyList()
{
    const ScanResult result = FileScanner::scan({});
    QCOMPARE(result.folderURL, QUrl::fromLocalFile(QStringLiteral("/")));
    QVERIFY(result.jpegFiles.isEmpty());
    QVERIFY(result.jxlFiles.isEmpty());
    QCOMPARE(result.totalJPEGBytes, 0);
    QCOMPARE(result.totalJXLBytes, 0);
    QCOMPARE(result.estimatedSavedBytes(), 0);
}

void TestScanner::folderMixedNames()
{
    const QString a = file(QStringLiteral("a.jpg"), 10);
    const QString b = file(QStringLiteral("b.JPEG"), 200);
    file(QStringLiteral("c.Jpg"), 3000);
    const QString d = file(QStringLiteral("d.jxl"), 40000);
    file(QStringLiteral(".hidden.jpg"), 5);
    file(QStringLiteral(".hiddenfolder/f.jpg"), 6);
    file(QStringLiteral("photo.png"), 7);
    const QString e = file(QStringLiteral("sub/e.jpeg"), 500000);
    // A folder that only looks like a photo: not listed itself, but searched.
    const QString inside = file(QStringLiteral("x.jpg/inside.JPG"), 8);
    QVERIFY(QDir().mkpath(m_dir + QStringLiteral("/empty.jxl")));

    const QUrl folder = QUrl::fromLocalFile(m_dir);
    const ScanResult result = FileScanner::scan({folder});
    QCOMPARE(result.folderURL, folder);
    QCOMPARE(sorted(localPaths(result.jpegFiles)), sorted({a, b, e, inside}));
    QCOMPARE(localPaths(result.jxlFiles), QStringList{d});
    QCOMPARE(result.totalJPEGBytes, 10 + 200 + 500000 + 8);
    QCOMPARE(result.totalJXLBytes, 40000);

    const QStringList found = localPaths(result.jpegFiles);
    QVERIFY(!found.contains(m_dir + QStringLiteral("/x.jpg")));
    for (const QUrl &url : result.jpegFiles)
        QVERIFY2(url.isLocalFile() && !url.path().contains(QStringLiteral("//")), qPrintable(url.toString()));

    // A trailing slash on the dropped folder changes nothing.
    const ScanResult slashed = FileScanner::scan({QUrl::fromLocalFile(m_dir + QLatin1Char('/'))});
    QCOMPARE(localPaths(slashed.jpegFiles), found);
}

void TestScanner::extensionsAreCaseSensitive_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("jpegs");
    QTest::addColumn<int>("jxls");
    QTest::newRow("jpg") << QStringLiteral("a.jpg") << 1 << 0;
    QTest::newRow("jpeg") << QStringLiteral("a.jpeg") << 1 << 0;
    QTest::newRow("JPG") << QStringLiteral("a.JPG") << 1 << 0;
    QTest::newRow("JPEG") << QStringLiteral("a.JPEG") << 1 << 0;
    QTest::newRow("jxl") << QStringLiteral("a.jxl") << 0 << 1;
    QTest::newRow("JXL") << QStringLiteral("a.JXL") << 0 << 1;
    QTest::newRow("Jpg") << QStringLiteral("a.Jpg") << 0 << 0;
    QTest::newRow("JPeg") << QStringLiteral("a.JPeg") << 0 << 0;
    QTest::newRow("Jxl") << QStringLiteral("a.Jxl") << 0 << 0;
    QTest::newRow("jpe") << QStringLiteral("a.jpe") << 0 << 0;
    QTest::newRow("last extension counts") << QStringLiteral("a.jpg.png") << 0 << 0;
    QTest::newRow("double extension") << QStringLiteral("archive.png.jpeg") << 1 << 0;
    QTest::newRow("trailing dot") << QStringLiteral("a.jpg.") << 0 << 0;
    QTest::newRow("no extension") << QStringLiteral("jpg") << 0 << 0;
    QTest::newRow("blank and Chinese") << QStringLiteral("我的 照片.jpg") << 1 << 0;
}

void TestScanner::extensionsAreCaseSensitive()
{
    QFETCH(QString, name);
    QFETCH(int, jpegs);
    QFETCH(int, jxls);
    const QString path = file(name);
    QCOMPARE(FileScanner::jpegExtensions(),
             (QStringList{QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("JPG"), QStringLiteral("JPEG")}));
    QCOMPARE(FileScanner::jxlExtensions(), (QStringList{QStringLiteral("jxl"), QStringLiteral("JXL")}));

    // The same rule whether the file is dropped itself or found in a folder.
    for (const QUrl &url : {QUrl::fromLocalFile(path), QUrl::fromLocalFile(m_dir)}) {
        const ScanResult result = FileScanner::scan({url});
        QCOMPARE(result.jpegFiles.size(), jpegs);
        QCOMPARE(result.jxlFiles.size(), jxls);
        QCOMPARE(result.totalJPEGBytes + result.totalJXLBytes, qint64(jpegs + jxls));
        if (jpegs + jxls == 1)
            QCOMPARE((jpegs ? result.jpegFiles : result.jxlFiles).first().toLocalFile(), path);
    }
}

void TestScanner::givenOrderAndDuplicatesKept()
{
    const QString first = file(QStringLiteral("z-first.jpg"), 1);
    const QString last = file(QStringLiteral("a-last.jpg"), 100);
    const QString inFolder = file(QStringLiteral("album/m.jpg"), 10);
    const QString jxl = file(QStringLiteral("album/r.jxl"), 1000);
    const QUrl album = QUrl::fromLocalFile(m_dir + QStringLiteral("/album"));

    const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(first), album, album,
                                                 QUrl::fromLocalFile(inFolder), QUrl::fromLocalFile(last)});
    QCOMPARE(result.folderURL, QUrl::fromLocalFile(first));
    QCOMPARE(localPaths(result.jpegFiles), (QStringList{first, inFolder, inFolder, inFolder, last}));
    QCOMPARE(result.totalJPEGBytes, 1 + 10 + 10 + 10 + 100);
    QCOMPARE(localPaths(result.jxlFiles), (QStringList{jxl, jxl}));
    QCOMPARE(result.totalJXLBytes, 2000);
}

void TestScanner::packagesNotSearched_data()
{
    QTest::addColumn<QString>("package");
    QTest::newRow("photo library") << QStringLiteral("Photos.photoslibrary");
    QTest::newRow("aperture library") << QStringLiteral("Old.aplibrary");
    QTest::newRow("application") << QStringLiteral("Viewer.app");
    QTest::newRow("bundle") << QStringLiteral("Plugin.bundle");
    QTest::newRow("framework") << QStringLiteral("Kit.framework");
    QTest::newRow("upper case") << QStringLiteral("Photos.PhotosLibrary");
}

void TestScanner::packagesNotSearched()
{
    QFETCH(QString, package);
    file(package + QStringLiteral("/originals/0/IMG_0001.jpg"));
    file(package + QStringLiteral("/resources/thumb.jxl"));
    const QString loose = file(QStringLiteral("loose.jpg"));

    const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir)});
    QCOMPARE(localPaths(result.jpegFiles), QStringList{loose});
    QVERIFY(result.jxlFiles.isEmpty());

    // Named directly, it is not opened either.
    const ScanResult direct = FileScanner::scan({QUrl::fromLocalFile(m_dir + QLatin1Char('/') + package)});
    QVERIFY(direct.jpegFiles.isEmpty());
    QVERIFY(direct.jxlFiles.isEmpty());
}

void TestScanner::symbolicLinks()
{
    const QString real = file(QStringLiteral("library/real.jpg"), 300);
    const QString outside = file(QStringLiteral("elsewhere/target.jpg"), 4000);
    const QString library = m_dir + QStringLiteral("/library");
    // A loop back to the top, a link to a folder, a link to a photo, a dangling link.
    QVERIFY(QFile::link(library, library + QStringLiteral("/loop")));
    QVERIFY(QFile::link(m_dir + QStringLiteral("/elsewhere"), library + QStringLiteral("/other.jpg")));
    QVERIFY(QFile::link(outside, library + QStringLiteral("/linked.jpg")));
    QVERIFY(QFile::link(m_dir + QStringLiteral("/gone.jpg"), library + QStringLiteral("/dangling.jpg")));

    const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(library)});
    QCOMPARE(sorted(localPaths(result.jpegFiles)), sorted({real, library + QStringLiteral("/linked.jpg")}));
    QCOMPARE(result.totalJPEGBytes, 4300);

    // Links named directly are followed.
    const ScanResult direct = FileScanner::scan({QUrl::fromLocalFile(library + QStringLiteral("/loop")),
                                                 QUrl::fromLocalFile(library + QStringLiteral("/linked.jpg")),
                                                 QUrl::fromLocalFile(library + QStringLiteral("/dangling.jpg"))});
    QCOMPARE(direct.jpegFiles.size(), 3);
    QCOMPARE(direct.jpegFiles.last(), QUrl::fromLocalFile(library + QStringLiteral("/linked.jpg")));
    QCOMPARE(direct.totalJPEGBytes, 4300 + 4000);
}

void TestScanner::ignoredDirectItems()
{
    const QString png = file(QStringLiteral("photo.png"));
    const QUrl missing = QUrl::fromLocalFile(m_dir + QStringLiteral("/missing.jpg"));
    const QUrl remote(QStringLiteral("https://example.org/a.jpg"));
    const QString fifo = m_dir + QStringLiteral("/pipe.jpg");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString hidden = file(QStringLiteral(".hidden.jpg"), 42);

    const ScanResult result = FileScanner::scan({missing, QUrl::fromLocalFile(png), remote, QUrl::fromLocalFile(fifo),
                                                 QUrl::fromLocalFile(hidden)});
    QCOMPARE(result.folderURL, missing);
    // A hidden file the user named is taken; the rest are not photos we can read.
    QCOMPARE(localPaths(result.jpegFiles), QStringList{hidden});
    QCOMPARE(result.totalJPEGBytes, 42);
    QVERIFY(result.jxlFiles.isEmpty());
}

void TestScanner::unreadableSubfolderSkipped()
{
    if (geteuid() == 0)
        QSKIP("permissions do not stop root");
    const QString visible = file(QStringLiteral("visible.jpg"));
    file(QStringLiteral("locked/secret.jpg"));
    const QString locked = m_dir + QStringLiteral("/locked");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    const ScanResult result = FileScanner::scan({QUrl::fromLocalFile(m_dir)});
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(localPaths(result.jpegFiles), QStringList{visible});
}

void TestScanner::estimatedSavings_data()
{
    QTest::addColumn<qint64>("jpegBytes");
    QTest::addColumn<qint64>("saved");
    QTest::newRow("truncated") << qint64(1000003) << qint64(250000);
    QTest::newRow("below four") << qint64(3) << qint64(0);
    QTest::newRow("exact") << qint64(4000) << qint64(1000);
    QTest::newRow("large") << qint64(4) * 1000 * 1000 * 1000 * 1000 << qint64(1000) * 1000 * 1000 * 1000;
}

void TestScanner::estimatedSavings()
{
    QFETCH(qint64, jpegBytes);
    QFETCH(qint64, saved);
    ScanResult result;
    result.totalJPEGBytes = jpegBytes;
    result.totalJXLBytes = 999;
    QCOMPARE(result.estimatedSavedBytes(), saved);
}

void TestScanner::concurrentScansAgree()
{
    for (int folder = 0; folder < 20; ++folder) {
        for (int i = 0; i < 20; ++i)
            file(QStringLiteral("f%1/p%2.%3").arg(folder).arg(i).arg(i % 3 ? QStringLiteral("jpg") : QStringLiteral("jxl")), i);
    }
    const QList<QUrl> urls{QUrl::fromLocalFile(m_dir)};
    QList<QFuture<ScanResult>> runs;
    for (int i = 0; i < 6; ++i)
        runs.append(QtConcurrent::run(&FileScanner::scan, urls));
    const ScanResult reference = FileScanner::scan(urls);
    QCOMPARE(reference.jpegFiles.size(), 20 * 13);
    QCOMPARE(reference.jxlFiles.size(), 20 * 7);
    // Depth first: each folder's photos come as one run, never interleaved with another's.
    QStringList folders;
    for (const QUrl &url : reference.jpegFiles) {
        const QString folder = QFileInfo(url.toLocalFile()).path();
        if (folders.isEmpty() || folders.last() != folder) {
            QVERIFY2(!folders.contains(folder), qPrintable(folder));
            folders.append(folder);
        }
    }
    QCOMPARE(folders.size(), 20);
    for (QFuture<ScanResult> &run : runs) {
        const ScanResult result = run.result();
        QCOMPARE(result.jpegFiles, reference.jpegFiles);
        QCOMPARE(result.jxlFiles, reference.jxlFiles);
        QCOMPARE(result.totalJPEGBytes, reference.totalJPEGBytes);
    }
}

void TestScanner::guardNothingWaiting()
{
    const QList<TaskItem> done{job(m_dir + QStringLiteral("/a.jpg"), 5000, TaskStatus::completed),
                               job(m_dir + QStringLiteral("/b.jpg"), 5000, TaskStatus::skipped)};
    const DiskSpaceGuard::CapacityCheck one = DiskSpaceGuard::validateCapacity(done, m_dir);
    QVERIFY(one.isSafe);
    QCOMPARE(one.needed, 0);
    QVERIFY(one.available > 0 && one.available < kUnlimited);

    const DiskSpaceGuard::CapacityCheck all = DiskSpaceGuard::validateCapacity(done);
    QVERIFY(all.isSafe);
    QCOMPARE(all.needed, 0);
    QCOMPARE(all.volumePath, QDir::homePath());
    QVERIFY(all.available > 0 && all.available < kUnlimited);
    QVERIFY(DiskSpaceGuard::validateCapacity({}).isSafe);
}

void TestScanner::guardCountsWaitingJobs_data()
{
    QTest::addColumn<TaskStatus>("status");
    QTest::addColumn<bool>("counted");
    QTest::newRow("pending") << TaskStatus::pending << true;
    QTest::newRow("failed") << TaskStatus::failed << true;
    QTest::newRow("processing") << TaskStatus::processing << false;
    QTest::newRow("verifying") << TaskStatus::verifying << false;
    QTest::newRow("completed") << TaskStatus::completed << false;
    QTest::newRow("skipped") << TaskStatus::skipped << false;
}

void TestScanner::guardCountsWaitingJobs()
{
    QFETCH(TaskStatus, status);
    QFETCH(bool, counted);
    const QList<TaskItem> tasks{job(m_dir + QStringLiteral("/a.jpg"), 1000),
                                job(m_dir + QStringLiteral("/b.jpg"), 70000, status)};
    const qint64 expected = 1000 + (counted ? 70000 : 0) + 524288000;
    QCOMPARE(DiskSpaceGuard::validateCapacity(tasks, m_dir).needed, expected);
    const DiskSpaceGuard::CapacityCheck perVolume = DiskSpaceGuard::validateCapacity(tasks);
    QCOMPARE(perVolume.needed, expected);
    QCOMPARE(deviceOf(perVolume.volumePath), deviceOf(m_dir));
}

void TestScanner::guardUnmeasurablePath()
{
    const QString nowhere = m_dir + QStringLiteral("/no/such/folder");
    QCOMPARE(DiskSpaceGuard::getAvailableDiskSpace(nowhere), kUnlimited);
    // Equality is safe: the largest possible need against an unmeasurable volume.
    const QList<TaskItem> tasks{job(m_dir + QStringLiteral("/a.jpg"), kUnlimited - DiskSpaceGuard::safetyMargin)};
    const DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity(tasks, nowhere);
    QVERIFY(check.isSafe);
    QCOMPARE(check.available, kUnlimited);
    QCOMPARE(check.needed, kUnlimited);
}

void TestScanner::guardRefusesWhenShort()
{
    const qint64 available = DiskSpaceGuard::getAvailableDiskSpace(m_dir);
    QVERIFY(available > 0 && available < kUnlimited);
    const QList<TaskItem> tasks{job(m_dir + QStringLiteral("/huge.jpg"), available)};
    for (const DiskSpaceGuard::CapacityCheck &check :
         {DiskSpaceGuard::validateCapacity(tasks, m_dir), DiskSpaceGuard::validateCapacity(tasks)}) {
        QVERIFY(!check.isSafe);
        QCOMPARE(check.needed, available + DiskSpaceGuard::safetyMargin);
        QVERIFY(check.available < check.needed);
    }
}

void TestScanner::guardPerVolume()
{
    QTemporaryDir other(QStringLiteral("/dev/shm/pikora-guard-XXXXXX"));
    if (!other.isValid() || deviceOf(other.path()) == deviceOf(m_dir))
        QSKIP("needs /dev/shm on a device of its own");
    const QString here = m_dir;
    const QString there = other.path();
    const qint64 roomThere = DiskSpaceGuard::getAvailableDiskSpace(there);
    const qint64 roomHere = DiskSpaceGuard::getAvailableDiskSpace(here);
    constexpr qint64 slack = 200LL * 1000 * 1000;
    if (roomThere < DiskSpaceGuard::safetyMargin + 2 * slack || roomHere < DiskSpaceGuard::safetyMargin + 2 * slack)
        QSKIP("not enough free space to tell the volumes apart");

    // Tight on the second volume: each volume carries its own margin, and that volume is reported.
    const qint64 nearlyFull = roomThere - DiskSpaceGuard::safetyMargin - slack;
    QList<TaskItem> tasks{job(here + QStringLiteral("/a.jpg"), 1000), job(there + QStringLiteral("/b.jpg"), nearlyFull),
                          job(here + QStringLiteral("/c.jpg"), 2000, TaskStatus::failed)};
    DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity(tasks);
    QVERIFY(check.isSafe);
    QCOMPARE(deviceOf(check.volumePath), deviceOf(there));
    QCOMPARE(check.needed, nearlyFull + DiskSpaceGuard::safetyMargin);

    // Measured against the one home volume, the same jobs would look harmless there.
    QCOMPARE(DiskSpaceGuard::validateCapacity(tasks, here).needed, nearlyFull + 3000 + DiskSpaceGuard::safetyMargin);

    // One byte-heavy job more on the second volume tips it over; the first still has room.
    tasks.append(job(there + QStringLiteral("/d.jpg"), 2 * slack));
    check = DiskSpaceGuard::validateCapacity(tasks);
    QVERIFY(!check.isSafe);
    QCOMPARE(deviceOf(check.volumePath), deviceOf(there));
    QCOMPARE(check.needed, nearlyFull + 2 * slack + DiskSpaceGuard::safetyMargin);

    // The source's volume does not matter when the output goes elsewhere.
    TaskItem moved = job(there + QStringLiteral("/e.jpg"), roomHere);
    moved.destinationURL = QUrl::fromLocalFile(here + QStringLiteral("/e.jxl"));
    check = DiskSpaceGuard::validateCapacity({job(there + QStringLiteral("/f.jpg"), 10), moved});
    QVERIFY(!check.isSafe);
    QCOMPARE(deviceOf(check.volumePath), deviceOf(here));
    QCOMPARE(check.needed, roomHere + DiskSpaceGuard::safetyMargin);
}

void TestScanner::guardOutputFolderNotYetMade()
{
    TaskItem task = job(m_dir + QStringLiteral("/a.jpg"), 1000);
    task.destinationURL = QUrl::fromLocalFile(m_dir + QStringLiteral("/out/year/month/a.jxl"));
    const DiskSpaceGuard::CapacityCheck check = DiskSpaceGuard::validateCapacity({task});
    QVERIFY(check.isSafe);
    QCOMPARE(check.needed, 524289000);
    QCOMPARE(check.volumePath, m_dir);
    QVERIFY(check.available > 0 && check.available < kUnlimited);
}

void TestScanner::warningText()
{
    const DiskSpaceGuard::CapacityCheck check{false, 1000, 524289000, QStringLiteral("/")};
    QCOMPARE(DiskSpaceGuard::warningMessage(check),
             QStringLiteral("磁盘空间不足：当前卷剩余可用空间仅 1 KB，本批次转码预估需要约 524.3 MB。"
                            "请先清理磁盘空间以防文件写入截断。"));
}

QTEST_GUILESS_MAIN(TestScanner)
#include "tst_scanner.moc"
