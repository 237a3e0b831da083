#include "platform/volumeidentity.h"

#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// A desktop's mounts: the system disk, a tmpfs, a photo card whose label has a blank, a folder
// of the system disk bound elsewhere, a tmpfs inside the card, and two mounts stacked on /mnt.
const QByteArray kMounts = "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda2 rw,errors=remount-ro\n"
                           "25 24 0:23 / /dev/shm rw,nosuid,nodev shared:3 - tmpfs tmpfs rw,size=8118504k\n"
                           "88 27 8:17 / /media/anna/Photo\\040Card rw,nosuid,nodev,relatime shared:50 - vfat /dev/sdb1 "
                           "rw,fmask=0022\n"
                           "95 27 254:0 /srv/photos /home/anna/Photos rw,relatime shared:1 - ext4 /dev/vda2 rw\n"
                           "99 88 0:45 / /media/anna/Photo\\040Card/cache rw - tmpfs tmpfs rw\n"
                           "120 27 0:50 / /mnt rw - tmpfs first rw\n"
                           "121 120 0:51 / /mnt rw master:7 - tmpfs second rw\n";
constexpr char kSystem[] = "UUID=3f1c52e0-8b51-4e8a-9d0e-2a4c3b1f0c77";

} // namespace

// Which file system a folder lies on, read from mountinfo text: the parser on its own.
class TestVolumeIdentity final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void identify_data()
    {
        QTest::addColumn<QByteArray>("mounts");
        QTest::addColumn<QString>("path");
        QTest::addColumn<qint64>("mountId"); // -1: not known
        QTest::addColumn<QString>("identity");
        const QString system = QLatin1String(kSystem);
        const QString card = u"UUID=1A2B-3C4D"_s;
        QTest::newRow("system disk") << kMounts << u"/home/anna/Pictures"_s << qint64(-1) << system;
        QTest::newRow("tmpfs, no UUID") << kMounts << u"/dev/shm/x"_s << qint64(-1)
                                        << u"tmpfs on /dev/shm type tmpfs"_s;
        QTest::newRow("a name that only begins alike") << kMounts << u"/dev/shmem"_s << qint64(-1) << system;
        QTest::newRow("escaped blank") << kMounts << u"/media/anna/Photo Card/DCIM"_s << qint64(-1) << card;
        QTest::newRow("nested mount") << kMounts << u"/media/anna/Photo Card/cache/a"_s << qint64(-1)
                                      << u"tmpfs on /media/anna/Photo Card/cache type tmpfs"_s;
        QTest::newRow("bind mount") << kMounts << u"/home/anna/Photos/2019"_s << qint64(-1)
                                    << system + u" root=/srv/photos"_s;
        QTest::newRow("stacked: the top one") << kMounts << u"/mnt/x"_s << qint64(-1)
                                              << u"second on /mnt type tmpfs"_s;
        QTest::newRow("stacked: by mount id") << kMounts << u"/mnt/x"_s << qint64(120)
                                              << u"first on /mnt type tmpfs"_s;
        // The card not mounted: its mount point is a folder of the system disk.
        QByteArray unplugged = kMounts;
        unplugged.replace(unplugged.indexOf("88 27"), unplugged.indexOf("95 27") - unplugged.indexOf("88 27"), "");
        QTest::newRow("card unmounted") << unplugged << u"/media/anna/Photo Card/DCIM"_s << qint64(-1)
                                        << system;
        QTest::newRow("malformed lines") << QByteArray("garbage\n27 1 254:0 / /\n\n") << u"/a"_s << qint64(-1)
                                         << QString();
    }

    void identify()
    {
        QFETCH(QByteArray, mounts);
        QFETCH(QString, path);
        QFETCH(qint64, mountId);
        QFETCH(QString, identity);
        const QHash<QString, QString> uuids{{u"254:0"_s, QLatin1String(kSystem).mid(5)}, {u"8:17"_s, u"1A2B-3C4D"_s}};
        QCOMPARE(VolumeIdentity::identify(mounts, path, mountId < 0 ? std::nullopt : std::optional(mountId), uuids), identity);
    }

    void thisMachine()
    {
        // procfs is a file system of its own on every Linux; a folder that is not there has none.
        const QString proc = VolumeIdentity::of(u"/proc"_s);
        QVERIFY2(proc.contains(u"type proc"_s), qPrintable(proc));
        QCOMPARE(VolumeIdentity::of(u"/proc/self/fd"_s), proc);
        QVERIFY(VolumeIdentity::of(u"/"_s) != proc);
        QCOMPARE(VolumeIdentity::of(u"/no/such/folder"_s), QString());
    }
};

QTEST_GUILESS_MAIN(TestVolumeIdentity)
#include "tst_volumeidentity.moc"
