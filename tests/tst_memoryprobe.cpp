#include "platform/memoryprobe.h"
#include "testenv.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include <unistd.h>

// Reading free memory and the memory group's headroom from fake procfs and cgroup trees.
class TestMemoryProbe final : public QObject
{
    Q_OBJECT

private:
    using Files = QList<std::pair<QString, QByteArray>>;

    static QString layOut(const QTemporaryDir &dir, const Files &files)
    {
        for (const auto &[path, content] : files)
            TestEnv::writeAll(dir.filePath(path), content);
        return dir.path();
    }

private slots:
    void reading_data()
    {
        QTest::addColumn<Files>("files");
        QTest::addColumn<std::optional<qint64>>("memAvailable");
        QTest::addColumn<std::optional<qint64>>("headroom");
        QTest::addColumn<std::optional<qint64>>("available");
        const QByteArray meminfo = "MemTotal:       16000000 kB\nMemFree:  100 kB\nMemAvailable:    8000000 kB\n";
        const QByteArray v2Mount = "30 25 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
        const auto v2 = [&](const QByteArray &group) {
            return Files{{QStringLiteral("proc/meminfo"), meminfo},
                         {QStringLiteral("proc/self/cgroup"), "0::" + group + "\n"},
                         {QStringLiteral("proc/self/mountinfo"), "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n" + v2Mount}};
        };
        constexpr qint64 GiB = qint64(1) << 30;

        QTest::newRow("no group, no limit") << v2("/") << std::optional<qint64>(8'192'000'000) << std::optional<qint64>()
                                            << std::optional<qint64>(8'192'000'000);

        // The slice's limit is tighter than the service's own; inactive file cache is not use.
        Files nested = v2("/user.slice/app.service");
        nested << Files{{QStringLiteral("sys/fs/cgroup/user.slice/memory.max"), "2147483648\n"},
                        {QStringLiteral("sys/fs/cgroup/user.slice/memory.current"), "1610612736\n"},
                        {QStringLiteral("sys/fs/cgroup/user.slice/memory.stat"), "anon 1\ninactive_file 536870912\nactive_file 9\n"},
                        {QStringLiteral("sys/fs/cgroup/user.slice/app.service/memory.max"), "max\n"},
                        {QStringLiteral("sys/fs/cgroup/user.slice/app.service/memory.current"), "100\n"}};
        QTest::newRow("v2, ancestor limit") << nested << std::optional<qint64>(8'192'000'000) << std::optional<qint64>(GiB)
                                            << std::optional<qint64>(GiB);

        // Over the limit: no headroom at all, never a negative one.
        Files over = v2("/box");
        over << Files{{QStringLiteral("sys/fs/cgroup/box/memory.max"), "1000\n"},
                      {QStringLiteral("sys/fs/cgroup/box/memory.current"), "5000\n"}};
        QTest::newRow("v2, over the limit") << over << std::optional<qint64>(8'192'000'000) << std::optional<qint64>(0)
                                            << std::optional<qint64>(0);

        // A container: the group's path is the mount's own root, so it is the mount point itself.
        Files container{{QStringLiteral("proc/self/cgroup"), "0::/docker/abc\n"},
                        {QStringLiteral("proc/self/mountinfo"), "30 25 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup rw\n"},
                        {QStringLiteral("sys/fs/cgroup/memory.max"), "3000\n"},
                        {QStringLiteral("sys/fs/cgroup/memory.current"), "1000\n"}};
        QTest::newRow("v2, container root, no meminfo") << container << std::optional<qint64>() << std::optional<qint64>(2000)
                                                        << std::optional<qint64>(2000);

        // Hybrid v1: the memory controller's own hierarchy wins over the empty unified one.
        Files v1{{QStringLiteral("proc/meminfo"), meminfo},
                 {QStringLiteral("proc/self/cgroup"), "9:name=systemd:/\n4:memory:/jobs/run1\n1:cpu,cpuacct:/\n0::/\n"},
                 {QStringLiteral("proc/self/mountinfo"),
                  "40 30 0:35 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n"
                  "41 30 0:36 / /sys/fs/cgroup/cpu,cpuacct rw - cgroup cgroup rw,cpu,cpuacct\n"
                  "42 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"},
                 {QStringLiteral("sys/fs/cgroup/memory/memory.limit_in_bytes"), "9223372036854771712\n"},
                 {QStringLiteral("sys/fs/cgroup/memory/memory.usage_in_bytes"), "99999999\n"},
                 {QStringLiteral("sys/fs/cgroup/memory/jobs/run1/memory.limit_in_bytes"), "209715200\n"},
                 {QStringLiteral("sys/fs/cgroup/memory/jobs/run1/memory.usage_in_bytes"), "104857600\n"},
                 {QStringLiteral("sys/fs/cgroup/memory/jobs/run1/memory.stat"), "cache 5\ntotal_inactive_file 4857600\n"}};
        QTest::newRow("v1 memory hierarchy") << v1 << std::optional<qint64>(8'192'000'000) << std::optional<qint64>(109'715'200)
                                             << std::optional<qint64>(109'715'200);

        QTest::newRow("nothing readable") << Files{} << std::optional<qint64>() << std::optional<qint64>() << std::optional<qint64>();
    }

    void reading()
    {
        QFETCH(Files, files);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const MemoryProbe::Reading reading = MemoryProbe::read(layOut(dir, files));
        QTEST(reading.memAvailable, "memAvailable");
        QTEST(reading.groupHeadroom, "headroom");
        QTEST(reading.available(), "available");
    }

    // A meter looks its group up once but reads the changing numbers every time.
    void meterReadsFreshNumbers()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString root = layOut(
            dir, {{QStringLiteral("proc/meminfo"), "MemAvailable:    8000000 kB\n"},
                  {QStringLiteral("proc/self/cgroup"), "0::/box\n"},
                  {QStringLiteral("proc/self/mountinfo"), "30 25 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"},
                  {QStringLiteral("sys/fs/cgroup/box/memory.max"), "5000\n"},
                  {QStringLiteral("sys/fs/cgroup/box/memory.current"), "1000\n"}});
        MemoryProbe::Meter meter(root);
        QCOMPARE(meter.read().groupHeadroom, std::optional<qint64>(4000));
        TestEnv::writeAll(dir.filePath(QStringLiteral("sys/fs/cgroup/box/memory.current")), "4500\n");
        TestEnv::writeAll(dir.filePath(QStringLiteral("proc/meminfo")), "MemAvailable:    1 kB\n");
        const MemoryProbe::Reading later = meter.read();
        QCOMPARE(later.groupHeadroom, std::optional<qint64>(500));
        QCOMPARE(later.available(), std::optional<qint64>(500));
        // Past the first reading the group's lookup files are not read again.
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("proc/self/mountinfo"))));
        QCOMPARE(meter.read().groupHeadroom, std::optional<qint64>(500));
        QCOMPARE(MemoryProbe::read(root).groupHeadroom, std::optional<qint64>());
    }

    void childrenResident()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const qint64 page = qint64(::sysconf(_SC_PAGESIZE));
        // Fields after the name: state ppid ... with rss the 24th field of the line.
        const auto stat = [](int pid, const char *name, int ppid, int rss) -> QByteArray {
            QByteArray line = QByteArray::number(pid) + " (" + name + ") S " + QByteArray::number(ppid);
            for (int field = 5; field < 24; ++field)
                line += " 0";
            return line + " " + QByteArray::number(rss) + " 0 0\n";
        };
        const QString root = layOut(dir, {{QStringLiteral("proc/200/stat"), stat(200, "cjxl", 100, 1000)},
                                          {QStringLiteral("proc/201/stat"), stat(201, "odd ) name (x", 100, 24)},
                                          {QStringLiteral("proc/202/stat"), stat(202, "other", 1, 5000)},
                                          {QStringLiteral("proc/self/stat"), stat(100, "pikora", 1, 7)}});
        QCOMPARE(MemoryProbe::childrenResidentBytes(100, root), 1024 * page);
        QCOMPARE(MemoryProbe::childrenResidentBytes(999, root), 0);
        // The real machine: this test runs no children, and its own memory is readable.
        QCOMPARE(MemoryProbe::childrenResidentBytes(::getpid()), 0);
        QVERIFY(MemoryProbe::read().available().value_or(0) > 0);
    }
};

QTEST_GUILESS_MAIN(TestMemoryProbe)
#include "tst_memoryprobe.moc"
