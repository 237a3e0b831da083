#include "platform/trash.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// lstat(); a zero st_mode when nothing is there.
struct stat statOf(const QString &path)
{
    struct stat info = {};
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        info.st_mode = 0;
    return info;
}

// The lines of a trashed item's info file: "[Trash Info]", "Path=…", "DeletionDate=…", "".
QList<QByteArray> infoOf(const QString &trashedPath)
{
    const QFileInfo trashed(trashedPath);
    return TestEnv::readAll(trashed.path() + u"/../info/"_s + trashed.fileName() + u".trashinfo"_s).split('\n');
}

} // namespace

class TestTrash final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_dir;
    QString m_trash;
    QByteArray m_dataHome;
    // What a test made on a volume outside the temporary folders, for cleanup().
    QStringList m_outside;

    QString file(const QString &relative, const QByteArray &data = QByteArrayLiteral("jpeg"))
    {
        const QString path = QDir(m_dir).filePath(relative);
        TestEnv::writeAll(path, data);
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_dataHome = qgetenv("XDG_DATA_HOME");
        m_trash = QFile::decodeName(m_dataHome) + u"/Trash"_s;
        m_dir = m_root.filePath(u"photos"_s);
    }

    void init()
    {
        qputenv("XDG_DATA_HOME", m_dataHome);
    }

    void cleanup()
    {
        for (const QString &path : std::exchange(m_outside, {})) {
            if (!QFile::remove(path))
                QDir(path).removeRecursively();
        }
    }

    void homeTrash()
    {
        const QString source = file(u"album/my photo 照片.jpg"_s, "original bytes");
        QString error;
        QString trashed;
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY2(Trash::moveToTrash(source, &error, &trashed), qPrintable(error));
        QCOMPARE(trashed, m_trash + u"/files/my photo 照片.jpg"_s);
        QVERIFY(!QFile::exists(source) && TestEnv::readAll(trashed) == "original bytes");
        QCOMPARE(statOf(m_trash).st_mode & 07777, 0700u);

        // Path percent-encoded; DeletionDate in local time, to the second.
        const QList<QByteArray> info = infoOf(trashed);
        QCOMPARE(info.value(0), "[Trash Info]");
        QCOMPARE(info.value(1), "Path=" + QFile::encodeName(QFileInfo(m_dir).canonicalFilePath())
                                   + "/album/my%20photo%20%E7%85%A7%E7%89%87.jpg");
        const QDateTime deleted = QDateTime::fromString(QString::fromLatin1(info.value(2)),
                                                        u"'DeletionDate='yyyy-MM-dd'T'HH:mm:ss"_s);
        QVERIFY2(deleted.isValid() && deleted >= before && deleted <= QDateTime::currentDateTime(), info.value(2).data());

        // A link goes as the link; its target stays.
        const QString photo = file(u"real.jpg"_s, "keep me");
        const QString link = m_dir + u"/link.jpg"_s;
        QVERIFY(QFile::link(photo, link));
        QVERIFY2(Trash::moveToTrash(link, &error, &trashed), qPrintable(error));
        QVERIFY(QFileInfo(trashed).isSymLink() && statOf(link).st_mode == 0 && TestEnv::readAll(photo) == "keep me");
    }

    void nameCollisions()
    {
        // The same name from many threads at once: each item gets a name of its own.
        QStringList sources;
        QStringList expected;
        for (int i = 0; i < 12; ++i) {
            sources.append(file(u"card%1/IMG_0001.JPG"_s.arg(i), QByteArray::number(i)));
            expected.append(i ? u"IMG_0001.%1.JPG"_s.arg(i + 1) : u"IMG_0001.JPG"_s);
        }
        const QStringList trashed = QtConcurrent::blockingMapped(sources, [](const QString &path) {
            QString where;
            return Trash::moveToTrash(path, nullptr, &where) ? where : QString();
        });
        QStringList names;
        for (int i = 0; i < sources.size(); ++i) {
            names.append(QFileInfo(trashed.at(i)).fileName());
            QCOMPARE(TestEnv::readAll(trashed.at(i)), QByteArray::number(i));
            QCOMPARE(infoOf(trashed.at(i)).value(1), "Path=" + QFile::encodeName(sources.at(i)));
        }
        QCOMPARE(QSet<QString>(names.cbegin(), names.cend()), QSet<QString>(expected.cbegin(), expected.cend()));

        // A stray entry without its info file is not overwritten either.
        TestEnv::writeAll(m_trash + u"/files/stray.jpg"_s, "stray");
        QString where;
        QVERIFY(Trash::moveToTrash(file(u"stray.jpg"_s, "new"), nullptr, &where));
        QCOMPARE(where, m_trash + u"/files/stray.2.jpg"_s);
        QCOMPARE(TestEnv::readAll(m_trash + u"/files/stray.jpg"_s), "stray");
    }

    void missingDataFolderCreated()
    {
        // Without XDG_DATA_HOME the trash lives in ~/.local/share, made (private) when missing.
        const QString share = QDir::homePath() + u"/.local/share"_s;
        QVERIFY(QDir(QDir::homePath() + u"/.local"_s).removeRecursively());
        qunsetenv("XDG_DATA_HOME");
        QString error;
        QString trashed;
        QVERIFY2(Trash::moveToTrash(file(u"a.jpg"_s), &error, &trashed), qPrintable(error));
        QCOMPARE(trashed, share + u"/Trash/files/a.jpg"_s);
        QCOMPARE(statOf(share).st_mode & 07777, 0700u);
    }

    void failuresLeaveNoTrace()
    {
        // A folder holding the trash cannot move into it: the name reserved before the rename goes again.
        const QString outer = m_dir + u"/outer"_s;
        QVERIFY(QDir().mkpath(outer + u"/data/Trash/info"_s));
        qputenv("XDG_DATA_HOME", QFile::encodeName(outer + u"/data"_s));
        QVERIFY(!Trash::moveToTrash(outer) && QFileInfo(outer).isDir());
        QCOMPARE(QDir(outer + u"/data/Trash/info"_s).entryList(QDir::Files), QStringList());
    }

    void otherVolume_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("used"); // the trash that takes the file; empty when none may
        for (const auto &[name, setup, used] : {std::tuple("no shared trash", "", "own"), {"shared trash with sticky bit", "sticky", "shared"},
                                                {"shared trash without sticky bit", "plain", "own"},
                                                {"shared trash is a link", "link", "own"}, {"own trash is a file", "blocked", ""}})
            QTest::newRow(name) << QString::fromLatin1(setup) << QString::fromLatin1(used);
    }

    void otherVolume()
    {
        QFETCH(QString, setup);
        QFETCH(QString, used);
        // The top folder of a volume other than the home folder's holds that volume's trashes.
        const QString top = u"/dev/shm"_s;
        const dev_t device = statOf(top).st_dev;
        QTemporaryDir volume(top + u"/pikora-trash-XXXXXX"_s);
        if (!volume.isValid() || device == statOf(m_trash).st_dev || device == statOf(u"/dev"_s).st_dev)
            QSKIP("needs /dev/shm mounted apart from the home folder");
        const QString uid = QString::number(getuid());
        const QString shared = top + u"/.Trash"_s;
        const QString own = top + u"/.Trash-"_s + uid;
        if (statOf(shared).st_mode || statOf(own).st_mode)
            QSKIP("the volume already has a trash");
        m_outside = {own, shared};
        if (setup == u"blocked"_s) {
            TestEnv::writeAll(own, "not a folder");
        } else if (!setup.isEmpty()) {
            const bool link = setup == u"link"_s;
            const QString folder = link ? volume.path() + u"/elsewhere"_s : shared;
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(chmod(QFile::encodeName(folder).constData(), setup == u"plain"_s ? 0777 : 01777), 0);
            QVERIFY(!link || QFile::link(folder, shared));
        }

        const QString source = volume.path() + u"/shm photo 照片.jpg"_s;
        TestEnv::writeAll(source, "on another disk");
        QString error;
        QString trashed;
        const bool moved = Trash::moveToTrash(source, &error, &trashed);
        // Never copied home, and never deleted.
        QVERIFY(!QFile::exists(m_trash + u"/files/shm photo 照片.jpg"_s));
        if (used.isEmpty()) {
            QVERIFY2(!moved && error.contains(source), qPrintable(error));
            QVERIFY(TestEnv::readAll(source) == "on another disk" && TestEnv::readAll(own) == "not a folder");
            return;
        }
        QVERIFY2(moved, qPrintable(error));
        const QString trash = used == u"own"_s ? own : shared + QLatin1Char('/') + uid;
        QCOMPARE(trashed, trash + u"/files/shm photo 照片.jpg"_s);
        QVERIFY(!QFile::exists(source) && TestEnv::readAll(trashed) == "on another disk");
        QCOMPARE(statOf(trash).st_mode & 07777, 0700u);
        // The origin is recorded relative to the volume's top folder.
        QCOMPARE(infoOf(trashed).value(1), "Path=" + QFile::encodeName(QDir(top).relativeFilePath(volume.path()))
                                               + "/shm%20photo%20%E7%85%A7%E7%89%87.jpg");
    }
};

QTEST_GUILESS_MAIN(TestTrash)
#include "tst_trash.moc"
