#include "platform/trash.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Entry
{
    QString path;
    bool exists;
    bool isLink;
};

qint64 deviceOf(const QString &path)
{
    struct stat info;
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return qint64(info.st_dev);
}

int modeOf(const QString &path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

bool existsNoFollow(const QString &path)
{
    struct stat info;
    return lstat(QFile::encodeName(path).constData(), &info) == 0;
}

// The mount point holding path: climb while the device stays the same.
QString mountPointOf(const QString &path)
{
    const qint64 device = deviceOf(path);
    QString current = QFileInfo(path).canonicalFilePath();
    while (current != QStringLiteral("/")) {
        const QString parent = QFileInfo(current).path();
        if (deviceOf(parent) != device)
            break;
        current = parent;
    }
    return current;
}

QString infoPathFor(const QString &trashedPath)
{
    const QFileInfo trashed(trashedPath);
    return trashed.dir().absoluteFilePath(QStringLiteral("../info/") + trashed.fileName() + QStringLiteral(".trashinfo"));
}

QString uid()
{
    return QString::number(getuid());
}

} // namespace

class TestTrash final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void homeTrash();
    void nameCollisions();
    void missingDataFolderCreated_data();
    void missingDataFolderCreated();
    void symbolicLinkTrashedAsLink();
    void failuresLeaveNoTrace();
    void concurrentSameNames();
    void otherVolume_data();
    void otherVolume();
    void otherVolumeWithoutTrashFails();

private:
    QString homeTrashPath() const;
    QString file(const QString &relative, const QByteArray &data = QByteArrayLiteral("jpeg"));
    // Remembers a path on a shared volume that the current test made, for cleanup().
    void created(const QString &path);

    QTemporaryDir m_root;
    QString m_dir;
    QByteArray m_dataHome;
    int m_case = 0;
    QStringList m_createdOutside;
};

void TestTrash::initTestCase()
{
    QVERIFY(m_root.isValid());
    TestEnv::isolateHome(m_root.path());
    QStandardPaths::setTestModeEnabled(true);
    m_dataHome = qgetenv("XDG_DATA_HOME");
}

void TestTrash::init()
{
    m_dir = m_root.filePath(QStringLiteral("case%1").arg(++m_case));
    QVERIFY(QDir().mkpath(m_dir));
    qputenv("XDG_DATA_HOME", m_dataHome);
}

void TestTrash::cleanup()
{
    // Undo what a test put on a volume outside the temporary folders, newest first.
    for (auto it = m_createdOutside.crbegin(); it != m_createdOutside.crend(); ++it) {
        const QFileInfo info(*it);
        if (info.isSymLink() || !info.isDir())
            QFile::remove(*it);
        else
            QDir(*it).removeRecursively();
    }
    m_createdOutside.clear();
}

QString TestTrash::homeTrashPath() const
{
    return QFile::decodeName(m_dataHome) + QStringLiteral("/Trash");
}

QString TestTrash::file(const QString &relative, const QByteArray &data)
{
    const QString path = QDir(m_dir).filePath(relative);
    TestEnv::writeAll(path, data);
    return path;
}

void TestTrash::created(const QString &path)
{
    if (!m_createdOutside.contains(path))
        m_createdOutside.append(path);
}

void TestTrash::homeTrash()
{
    const QString name = QStringLiteral("my photo 照片.jpg");
    const QString source = file(QStringLiteral("album/") + name, QByteArrayLiteral("original bytes"));
    QString error;
    QString trashed;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY2(Trash::moveToTrash(source, &error, &trashed), qPrintable(error));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    QCOMPARE(trashed, homeTrashPath() + QStringLiteral("/files/") + name);
    QVERIFY(!QFile::exists(source));
    QCOMPARE(TestEnv::readAll(trashed), QByteArrayLiteral("original bytes"));
    QCOMPARE(modeOf(homeTrashPath()), 0700);
    QCOMPARE(modeOf(homeTrashPath() + QStringLiteral("/info")), 0700);

    const QString folder = QFileInfo(m_dir).canonicalFilePath() + QStringLiteral("/album/");
    const QList<QByteArray> lines = TestEnv::readAll(homeTrashPath() + QStringLiteral("/info/") + name
                                                     + QStringLiteral(".trashinfo")).split('\n');
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), QByteArrayLiteral("[Trash Info]"));
    QCOMPARE(lines.at(1), "Path=" + QFile::encodeName(folder) + "my%20photo%20%E7%85%A7%E7%89%87.jpg");
    QVERIFY(lines.at(2).startsWith("DeletionDate="));
    const QByteArray date = lines.at(2).mid(13);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                 .match(QString::fromLatin1(date)).hasMatch(),
             date.constData());
    const QDateTime deleted = QDateTime::fromString(QString::fromLatin1(date), Qt::ISODate);
    QVERIFY2(deleted >= before.addMSecs(-before.time().msec()) && deleted <= after, date.constData());
    QCOMPARE(lines.at(3), QByteArray());

    // Folders go the same way, contents and all.
    const QString photo = file(QStringLiteral("shoot/day 1/a.jpg"));
    QVERIFY2(Trash::moveToTrash(m_dir + QStringLiteral("/shoot"), &error, &trashed), qPrintable(error));
    QVERIFY(!QFile::exists(photo));
    QCOMPARE(TestEnv::readAll(trashed + QStringLiteral("/day 1/a.jpg")), QByteArrayLiteral("jpeg"));
}

void TestTrash::nameCollisions()
{
    const QString first = file(QStringLiteral("one/dup.jpg"), "1");
    const QString second = file(QStringLiteral("two/dup.jpg"), "2");
    const QString folderA = file(QStringLiteral("a/2024.06/x.jpg"));
    const QString folderB = file(QStringLiteral("b/2024.06/x.jpg"));
    // A stray entry without its info file must not be overwritten either.
    TestEnv::writeAll(homeTrashPath() + QStringLiteral("/files/stray.jpg"), "stray");
    const QString stray = file(QStringLiteral("stray.jpg"), "new");

    QStringList trashed;
    for (const QString &path : {first, second, QFileInfo(folderA).path(), QFileInfo(folderB).path(), stray}) {
        QString error;
        QString where;
        QVERIFY2(Trash::moveToTrash(path, &error, &where), qPrintable(error));
        trashed.append(QFileInfo(where).fileName());
        QVERIFY(QFile::exists(infoPathFor(where)));
        const QByteArray info = TestEnv::readAll(infoPathFor(where));
        QVERIFY2(info.contains(QByteArray("\nPath=" + QFile::encodeName(QFileInfo(path).absoluteFilePath()) + '\n')), info.constData());
    }
    QCOMPARE(trashed, (QStringList{QStringLiteral("dup.jpg"), QStringLiteral("dup.2.jpg"), QStringLiteral("2024.06"),
                                   QStringLiteral("2024.06.2"), QStringLiteral("stray.2.jpg")}));
    QCOMPARE(TestEnv::readAll(homeTrashPath() + QStringLiteral("/files/dup.jpg")), QByteArrayLiteral("1"));
    QCOMPARE(TestEnv::readAll(homeTrashPath() + QStringLiteral("/files/dup.2.jpg")), QByteArrayLiteral("2"));
    QCOMPARE(TestEnv::readAll(homeTrashPath() + QStringLiteral("/files/stray.jpg")), QByteArrayLiteral("stray"));
    QVERIFY(!QFile::exists(homeTrashPath() + QStringLiteral("/info/stray.jpg.trashinfo")));
}

void TestTrash::missingDataFolderCreated_data()
{
    QTest::addColumn<bool>("unsetVariable");
    QTest::newRow("XDG_DATA_HOME set") << false;
    QTest::newRow("XDG_DATA_HOME unset") << true;
}

void TestTrash::missingDataFolderCreated()
{
    QFETCH(bool, unsetVariable);
    const QString home = QDir::homePath();
    const QString share = home + QStringLiteral("/.local/share");
    QVERIFY(QDir(home + QStringLiteral("/.local")).removeRecursively());
    if (unsetVariable)
        qunsetenv("XDG_DATA_HOME");
    const QString source = file(QStringLiteral("a.jpg"));
    QString error;
    QString trashed;
    const bool moved = Trash::moveToTrash(source, &error, &trashed);
    qputenv("XDG_DATA_HOME", m_dataHome);
    QVERIFY2(moved, qPrintable(error));
    QCOMPARE(trashed, share + QStringLiteral("/Trash/files/a.jpg"));
    QVERIFY(QFile::exists(share + QStringLiteral("/Trash/info/a.jpg.trashinfo")));
    QCOMPARE(modeOf(share), 0700);
}

void TestTrash::symbolicLinkTrashedAsLink()
{
    const QString photo = file(QStringLiteral("real.jpg"), "keep me");
    const QString link = m_dir + QStringLiteral("/link.jpg");
    QVERIFY(QFile::link(photo, link));
    QString error;
    QString trashed;
    QVERIFY2(Trash::moveToTrash(link, &error, &trashed), qPrintable(error));
    QVERIFY(!existsNoFollow(link));
    QCOMPARE(TestEnv::readAll(photo), QByteArrayLiteral("keep me"));
    QVERIFY(QFileInfo(trashed).isSymLink());
}

void TestTrash::failuresLeaveNoTrace()
{
    const QString info = homeTrashPath() + QStringLiteral("/info");
    QDir().mkpath(info);
    const QStringList before = QDir(info).entryList(QDir::Files);

    QString error;
    QString trashed = QStringLiteral("untouched");
    QVERIFY(!Trash::moveToTrash(m_dir + QStringLiteral("/missing.jpg"), &error, &trashed));
    QVERIFY(!error.isEmpty());
    QCOMPARE(trashed, QStringLiteral("untouched"));

    // A folder holding the trash itself cannot move into it: the rename fails after the
    // name was reserved, and the reservation must go again.
    const QString outer = m_dir + QStringLiteral("/outer");
    const QString innerData = outer + QStringLiteral("/data");
    QVERIFY(QDir().mkpath(innerData + QStringLiteral("/Trash/info")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(innerData));
    error.clear();
    const bool moved = Trash::moveToTrash(outer, &error);
    qputenv("XDG_DATA_HOME", m_dataHome);
    QVERIFY(!moved);
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(outer).isDir());
    QCOMPARE(QDir(innerData + QStringLiteral("/Trash/info")).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(info).entryList(QDir::Files), before);
}

void TestTrash::concurrentSameNames()
{
    QStringList sources;
    for (int i = 0; i < 12; ++i)
        sources.append(file(QStringLiteral("card%1/IMG_0001.JPG").arg(i), QByteArray::number(i)));
    const QStringList trashed = QtConcurrent::blockingMapped(sources, [](const QString &path) {
        QString where;
        return Trash::moveToTrash(path, nullptr, &where) ? where : QString();
    });
    QCOMPARE(QSet<QString>(trashed.cbegin(), trashed.cend()).size(), sources.size());
    for (int i = 0; i < sources.size(); ++i) {
        QVERIFY(!QFile::exists(sources.at(i)));
        QCOMPARE(TestEnv::readAll(trashed.at(i)), QByteArray::number(i));
        QVERIFY(TestEnv::readAll(infoPathFor(trashed.at(i))).contains(QFile::encodeName(sources.at(i))));
    }
}

void TestTrash::otherVolume_data()
{
    QTest::addColumn<QString>("sharedTrash");
    QTest::addColumn<bool>("useShared");
    QTest::newRow("no shared trash") << QString() << false;
    QTest::newRow("shared trash with sticky bit") << QStringLiteral("sticky") << true;
    QTest::newRow("shared trash without sticky bit") << QStringLiteral("plain") << false;
    QTest::newRow("shared trash is a link") << QStringLiteral("link") << false;
}

void TestTrash::otherVolume()
{
    QFETCH(QString, sharedTrash);
    QFETCH(bool, useShared);
    QTemporaryDir volume(QStringLiteral("/dev/shm/pikora-trash-XXXXXX"));
    if (!volume.isValid() || deviceOf(volume.path()) == deviceOf(homeTrashPath() + QStringLiteral("/..")))
        QSKIP("needs /dev/shm on a device other than the home folder's");
    const QString topdir = mountPointOf(volume.path());
    const QString shared = topdir + QStringLiteral("/.Trash");
    const QString own = topdir + QStringLiteral("/.Trash-") + uid();
    if (existsNoFollow(shared))
        QSKIP("the volume already has a shared trash");
    if (!existsNoFollow(own))
        created(own);

    if (sharedTrash == QStringLiteral("link")) {
        const QString target = volume.path() + QStringLiteral("/elsewhere");
        QVERIFY(QDir().mkpath(target));
        QVERIFY(chmod(QFile::encodeName(target).constData(), 01777) == 0);
        QVERIFY(QFile::link(target, shared));
        created(shared);
    } else if (!sharedTrash.isEmpty()) {
        QVERIFY(QDir().mkdir(shared));
        created(shared);
        QVERIFY(chmod(QFile::encodeName(shared).constData(), sharedTrash == QStringLiteral("sticky") ? 01777 : 0777) == 0);
    }

    const QString source = volume.path() + QStringLiteral("/shm photo 照片.jpg");
    TestEnv::writeAll(source, "on another disk");
    QString error;
    QString trashed;
    QVERIFY2(Trash::moveToTrash(source, &error, &trashed), qPrintable(error));
    // Tracked before any check can fail, so cleanup() always finds them.
    const QString info = infoPathFor(trashed);
    created(trashed);
    created(info);

    const QString trash = useShared ? shared + QLatin1Char('/') + uid() : own;
    QCOMPARE(QFileInfo(trashed).path(), trash + QStringLiteral("/files"));
    QVERIFY(!QFile::exists(source));
    QCOMPARE(TestEnv::readAll(trashed), QByteArrayLiteral("on another disk"));
    QCOMPARE(modeOf(trash), 0700);
    QCOMPARE(deviceOf(trashed), deviceOf(volume.path()));
    // The origin is recorded relative to the volume's top folder.
    const QString relative = QDir(topdir).relativeFilePath(volume.path());
    QVERIFY2(TestEnv::readAll(info).contains(QByteArray("\nPath=" + QFile::encodeName(relative) + "/shm%20photo%20%E7%85%A7%E7%89%87.jpg\n")),
             TestEnv::readAll(info).constData());
    QVERIFY(!QFile::exists(homeTrashPath() + QStringLiteral("/files/shm photo 照片.jpg")));
}

void TestTrash::otherVolumeWithoutTrashFails()
{
    QTemporaryDir volume(QStringLiteral("/dev/shm/pikora-trash-XXXXXX"));
    if (!volume.isValid() || deviceOf(volume.path()) == deviceOf(homeTrashPath() + QStringLiteral("/..")))
        QSKIP("needs /dev/shm on a device other than the home folder's");
    const QString topdir = mountPointOf(volume.path());
    const QString own = topdir + QStringLiteral("/.Trash-") + uid();
    if (existsNoFollow(topdir + QStringLiteral("/.Trash")) || existsNoFollow(own))
        QSKIP("the volume already has a trash");
    // A plain file where the trash folder should be: nothing usable on this volume.
    TestEnv::writeAll(own, "not a folder");
    created(own);

    const QString source = volume.path() + QStringLiteral("/keep.jpg");
    TestEnv::writeAll(source, "precious");
    QString error;
    QVERIFY(!Trash::moveToTrash(source, &error));
    QVERIFY(!error.isEmpty());
    // Never copied home and never deleted.
    QCOMPARE(TestEnv::readAll(source), QByteArrayLiteral("precious"));
    QVERIFY(!QFile::exists(homeTrashPath() + QStringLiteral("/files/keep.jpg")));
    QCOMPARE(TestEnv::readAll(own), QByteArrayLiteral("not a folder"));
}

QTEST_GUILESS_MAIN(TestTrash)
#include "tst_trash.moc"
