#include "platform/memoryprobe.h"
#include "testenv.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

using Files = QList<std::pair<QString, QByteArray>>;
using Bytes = std::optional<qint64>;

QString layOut(const QTemporaryDir &dir, const Files &files)
{
    for (const auto &[path, content] : files)
        TestEnv::writeAll(dir.filePath(path), content);
    return dir.path();
}

} // namespace

// Reading free memory and the memory group's headroom from fake procfs and cgroup trees.
class TestMemoryProbe final : public QObject
{
    Q_OBJECT

private slots:
    void reading_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<Bytes>("memAvailable");
        QTest::addColumn<Bytes>("headroom");
        const QByteArray meminfo = "MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    8000000 kB\n";
        const auto v2 = [&](const QByteArray &group, const Files &more) {
            return Files{{u"proc/meminfo"_s, meminfo}, {u"proc/self/cgroup"_s, "0::" + group + "\n"},
                         {u"proc/self/mountinfo"_s, "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                     "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n"}}
                + more;
        };
        const Bytes free = 8'192'000'000;
        QTest::newRow("no group, no limit") << v2("/", {}) << free << Bytes();
        // The slice's limit is tighter than the service's own; inactive file cache is not use.
        QTest::newRow("v2, ancestor limit")
            << v2("/user.slice/app.service", {{u"sys/fs/cgroup/user.slice/memory.max"_s, "2147483648\n"},
                                              {u"sys/fs/cgroup/user.slice/memory.current"_s, "1610612736\n"},
                                              {u"sys/fs/cgroup/user.slice/memory.stat"_s, "anon 1\ninactive_file 536870912\nactive_file 9\n"},
                                              {u"sys/fs/cgroup/user.slice/app.service/memory.max"_s, "max\n"},
                                              {u"sys/fs/cgroup/user.slice/app.service/memory.current"_s, "100\n"}})
            << free << Bytes(qint64(1) << 30);
        // Over the limit: no headroom at all, never a negative one.
        QTest::newRow("v2, over the limit") << v2("/box", {{u"sys/fs/cgroup/box/memory.max"_s, "1000\n"},
                                                           {u"sys/fs/cgroup/box/memory.current"_s, "5000\n"}})
                                            << free << Bytes(0);
        // A container: the group's path is the mount's own root, so it is the mount point itself.
        QTest::newRow("v2, container root, no meminfo")
            << Files{{u"proc/self/cgroup"_s, "0::/docker/abc\n"},
                     {u"proc/self/mountinfo"_s, "30 25 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n"},
                     {u"sys/fs/cgroup/memory.max"_s, "3000\n"}, {u"sys/fs/cgroup/memory.current"_s, "1000\n"}}
            << Bytes() << Bytes(2000);
        // Hybrid v1: the memory controller's own hierarchy wins over the empty unified one.
        QTest::newRow("v1 memory hierarchy")
            << Files{{u"proc/meminfo"_s, meminfo},
                     {u"proc/self/cgroup"_s, "9:name=systemd:/\n4:memory:/jobs/run1\n1:cpu,cpuacct:/\n0::/\n"},
                     {u"proc/self/mountinfo"_s, "40 30 0:35 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
                                                 "41 30 0:36 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
                                                 "42 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"},
                     {u"sys/fs/cgroup/memory/memory.limit_in_bytes"_s, "9223372036854771712\n"},
                     {u"sys/fs/cgroup/memory/memory.usage_in_bytes"_s, "99999999\n"},
                     {u"sys/fs/cgroup/memory/jobs/run1/memory.limit_in_bytes"_s, "209715200\n"},
                     {u"sys/fs/cgroup/memory/jobs/run1/memory.usage_in_bytes"_s, "104857600\n"},
                     {u"sys/fs/cgroup/memory/jobs/run1/memory.stat"_s, "cache 5\ntotal_inactive_file 4857600\n"}}
            << free << Bytes(109'715'200);
        QTest::newRow("nothing readable") << Files{} << Bytes() << Bytes();
    }

    void reading()
    {
        QFETCH(Files, files);
        QFETCH(Bytes, memAvailable);
        QFETCH(Bytes, headroom);
        QTemporaryDir dir;
        const MemoryProbe::Reading reading = MemoryProbe::read(layOut(dir, files));
        QCOMPARE(reading.memAvailable, memAvailable);
        QCOMPARE(reading.groupHeadroom, headroom);
        // What is available is the tighter of the two, whichever is known.
        QCOMPARE(reading.available(), headroom ? (memAvailable ? std::min(*memAvailable, *headroom) : *headroom) : memAvailable);
    }

    // A meter looks its group up once but reads the changing numbers every time.
    void meterReadsFreshNumbers()
    {
        QTemporaryDir dir;
        const QString root = layOut(dir, {{u"proc/meminfo"_s, "MemAvailable:    8000000 kB\n"},
                                          {u"proc/self/cgroup"_s, "0::/box\n"},
                                          {u"proc/self/mountinfo"_s, "30 25 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"},
                                          {u"sys/fs/cgroup/box/memory.max"_s, "5000\n"},
                                          {u"sys/fs/cgroup/box/memory.current"_s, "1000\n"}});
        MemoryProbe::Meter meter(root);
        QCOMPARE(meter.read().groupHeadroom, Bytes(4000));
        TestEnv::writeAll(dir.filePath(u"sys/fs/cgroup/box/memory.current"_s), "4500\n");
        TestEnv::writeAll(dir.filePath(u"proc/meminfo"_s), "MemAvailable:    1 kB\n");
        QCOMPARE(meter.read().available(), Bytes(500));
        // Past the first reading the group's lookup files are not read again.
        QVERIFY(QFile::remove(dir.filePath(u"proc/self/mountinfo"_s)));
        QCOMPARE(meter.read().groupHeadroom, Bytes(500));
        QCOMPARE(MemoryProbe::read(root).groupHeadroom, Bytes());
    }

    void childrenResident()
    {
        QTemporaryDir dir;
        const qint64 page = qint64(::sysconf(_SC_PAGESIZE));
        // Fields after the name: state ppid ... with rss the 24th field of the line.
        const auto stat = [](int pid, const char *name, int ppid, int rss) -> QByteArray {
            QByteArray line = QByteArray::number(pid) + " (" + name + ") S " + QByteArray::number(ppid);
            for (int field = 5; field < 24; ++field)
                line += " 0";
            return line + " " + QByteArray::number(rss) + " 0 0\n";
        };
        const QString root = layOut(dir, {{u"proc/200/stat"_s, stat(200, "cjxl", 100, 1000)},
                                          {u"proc/201/stat"_s, stat(201, "odd ) name (x", 100, 24)},
                                          {u"proc/202/stat"_s, stat(202, "other", 1, 5000)},
                                          {u"proc/self/stat"_s, stat(100, "pikora", 1, 7)}});
        QCOMPARE(MemoryProbe::childrenResidentBytes(100, root), 1024 * page);
        QCOMPARE(MemoryProbe::childrenResidentBytes(999, root), 0);
        // The real machine: this test runs no children, and its own memory is readable.
        QCOMPARE(MemoryProbe::childrenResidentBytes(::getpid()), 0);
        QVERIFY(MemoryProbe::read().available().value_or(0) > 0);
    }
};

QTEST_GUILESS_MAIN(TestMemoryProbe)
#include "tst_memoryprobe.moc"
