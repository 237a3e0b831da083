#include "platform/volumeidentity.h"

#include <QTest>

#include <optional>

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
        const QString card = QStringLiteral("UUID=1A2B-3C4D");
        QTest::newRow("system disk") << kMounts << QStringLiteral("/home/anna/Pictures") << qint64(-1) << system;
        QTest::newRow("tmpfs, no UUID") << kMounts << QStringLiteral("/dev/shm/x") << qint64(-1)
                                        << QStringLiteral("tmpfs on /dev/shm type tmpfs");
        QTest::newRow("a name that only begins alike") << kMounts << QStringLiteral("/dev/shmem") << qint64(-1) << system;
        QTest::newRow("escaped blank") << kMounts << QStringLiteral("/media/anna/Photo Card/DCIM") << qint64(-1) << card;
        QTest::newRow("nested mount") << kMounts << QStringLiteral("/media/anna/Photo Card/cache/a") << qint64(-1)
                                      << QStringLiteral("tmpfs on /media/anna/Photo Card/cache type tmpfs");
        QTest::newRow("bind mount") << kMounts << QStringLiteral("/home/anna/Photos/2019") << qint64(-1)
                                    << system + QStringLiteral(" root=/srv/photos");
        QTest::newRow("stacked: the top one") << kMounts << QStringLiteral("/mnt/x") << qint64(-1)
                                              << QStringLiteral("second on /mnt type tmpfs");
        QTest::newRow("stacked: by mount id") << kMounts << QStringLiteral("/mnt/x") << qint64(120)
                                              << QStringLiteral("first on /mnt type tmpfs");
        // The card not mounted: its mount point is a folder of the system disk.
        QByteArray unplugged = kMounts;
        unplugged.replace(unplugged.indexOf("88 27"), unplugged.indexOf("95 27") - unplugged.indexOf("88 27"), "");
        QTest::newRow("card unmounted") << unplugged << QStringLiteral("/media/anna/Photo Card/DCIM") << qint64(-1)
                                        << system;
        QTest::newRow("malformed lines") << QByteArray("garbage\n27 1 254:0 / /\n\n") << QStringLiteral("/a") << qint64(-1)
                                         << QString();
    }

    void identify()
    {
        QFETCH(QByteArray, mounts);
        QFETCH(QString, path);
        QFETCH(qint64, mountId);
        QFETCH(QString, identity);
        const QHash<QString, QString> uuids{{QStringLiteral("254:0"), QLatin1String(kSystem).mid(5)},
                                            {QStringLiteral("8:17"), QStringLiteral("1A2B-3C4D")}};
        QCOMPARE(VolumeIdentity::identify(mounts, path, mountId < 0 ? std::nullopt : std::optional(mountId), uuids),
                 identity);
    }

    void thisMachine()
    {
        // procfs is a file system of its own on every Linux; a folder that is not there has none.
        const QString proc = VolumeIdentity::of(QStringLiteral("/proc"));
        QVERIFY2(proc.contains(QStringLiteral("type proc")), qPrintable(proc));
        QCOMPARE(VolumeIdentity::of(QStringLiteral("/proc/self/fd")), proc);
        QVERIFY(VolumeIdentity::of(QStringLiteral("/")) != proc);
        QCOMPARE(VolumeIdentity::of(QStringLiteral("/no/such/folder")), QString());
    }
};

QTEST_GUILESS_MAIN(TestVolumeIdentity)
#include "tst_volumeidentity.moc"
