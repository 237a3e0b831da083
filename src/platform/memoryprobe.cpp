#include "memoryprobe.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <limits>

namespace MemoryProbe {

namespace {

// v1 writes "no limit" as the largest page-aligned number, so anything this large is none.
constexpr qint64 kNoLimit = qint64(1) << 60;

// Procfs files say they are empty until read; a small buffer grows as they turn out longer.
QByteArray readSmallFile(const QString &path)
{
    constexpr qsizetype kLimit = 1 << 20;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QByteArray text;
    char buffer[4096];
    while (text.size() < kLimit) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        text.append(buffer, count);
    }
    ::close(fd);
    return text;
}

std::optional<qint64> readNumber(const QString &path)
{
    const QByteArray text = readSmallFile(path).trimmed();
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 0 ? std::optional<qint64>(value) : std::nullopt;
}

// "key value" lines (memory.stat) or "Key: value kB" lines (meminfo).
std::optional<qint64> readField(const QByteArray &text, QByteArrayView key)
{
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2 || parts.at(0) != key)
            continue;
        bool ok = false;
        const qint64 value = parts.at(1).toLongLong(&ok);
        if (!ok)
            return std::nullopt;
        return parts.size() > 2 && parts.at(2) == "kB" ? value * 1024 : value;
    }
    return std::nullopt;
}

QString unescapeMountPath(QByteArray field)
{
    field.replace("\\040", " ").replace("\\011", "\t").replace("\\012", "\n").replace("\\134", "\\");
    return QString::fromUtf8(field);
}

// The memory group of this process: its line in /proc/self/cgroup, joined to where that
// hierarchy is mounted (mountinfo; a container sees its own group as the mount's root).
std::optional<Group> findGroup(const QString &root)
{
    QByteArray v1Path;
    QByteArray v2Path;
    bool haveV1 = false;
    bool haveV2 = false;
    for (const QByteArray &line : readSmallFile(root + QStringLiteral("/proc/self/cgroup")).split('\n')) {
        const qsizetype first = line.indexOf(':');
        const qsizetype second = first < 0 ? -1 : line.indexOf(':', first + 1);
        if (second < 0)
            continue;
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        if (line.left(first) == "0" && controllers.isEmpty()) {
            v2Path = line.mid(second + 1);
            haveV2 = true;
        } else if (controllers.split(',').contains("memory")) {
            v1Path = line.mid(second + 1);
            haveV1 = true;
        }
    }
    if (!haveV1 && !haveV2)
        return std::nullopt;

    for (const QByteArray &line : readSmallFile(root + QStringLiteral("/proc/self/mountinfo")).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 5 || dash + 3 >= fields.size())
            continue;
        const QByteArray &type = fields.at(dash + 1);
        const bool v2 = type == "cgroup2";
        // A v1 memory line wins over the unified one, which then carries no memory controller.
        if (v2 ? haveV1 || !haveV2 : type != "cgroup" || !haveV1 || !fields.at(dash + 3).split(',').contains("memory"))
            continue;
        const QString mountRoot = unescapeMountPath(fields.at(3));
        const QString mountPoint = unescapeMountPath(fields.at(4));
        QString group = QString::fromUtf8(v2 ? v2Path : v1Path);
        if (mountRoot != QStringLiteral("/")) {
            if (group != mountRoot && !group.startsWith(mountRoot + QLatin1Char('/')))
                continue;
            group = group.mid(mountRoot.size());
        }
        Group folder;
        folder.mountPath = QDir::cleanPath(root + QLatin1Char('/') + mountPoint);
        folder.path = QDir::cleanPath(folder.mountPath + QLatin1Char('/') + group);
        folder.v2 = v2;
        return folder;
    }
    return std::nullopt;
}

std::optional<qint64> groupHeadroom(const std::optional<Group> &group)
{
    if (!group)
        return std::nullopt;
    const QString limitFile = group->v2 ? QStringLiteral("/memory.max") : QStringLiteral("/memory.limit_in_bytes");
    const QString usageFile = group->v2 ? QStringLiteral("/memory.current") : QStringLiteral("/memory.usage_in_bytes");
    const QByteArray inactiveKey = group->v2 ? QByteArrayLiteral("inactive_file") : QByteArrayLiteral("total_inactive_file");
    std::optional<qint64> tightest;
    QString folder = group->path;
    while (true) {
        const std::optional<qint64> limit = readNumber(folder + limitFile); // "max" reads as none
        // Use is summed up by the kernel on every read: asked for only where a limit makes it count.
        const std::optional<qint64> usage = limit && *limit < kNoLimit ? readNumber(folder + usageFile) : std::nullopt;
        if (usage) {
            // Inactive file cache is given back under pressure before anything is killed.
            const qint64 inactive = readField(readSmallFile(folder + QStringLiteral("/memory.stat")), inactiveKey).value_or(0);
            const qint64 headroom = std::max<qint64>(0, *limit - std::max<qint64>(0, *usage - inactive));
            tightest = std::min(tightest.value_or(headroom), headroom);
        }
        if (folder.size() <= group->mountPath.size())
            break;
        folder = QDir::cleanPath(folder + QStringLiteral("/.."));
    }
    return tightest;
}

} // namespace

std::optional<qint64> Reading::available() const
{
    if (memAvailable && groupHeadroom)
        return std::min(*memAvailable, *groupHeadroom);
    return memAvailable ? memAvailable : groupHeadroom;
}

Reading read(const QString &root)
{
    return Meter(root).read();
}

Meter::Meter(QString root)
    : m_root(std::move(root))
{
}

Reading Meter::read()
{
    if (!m_looked) {
        m_group = findGroup(m_root);
        m_looked = true;
    }
    Reading reading;
    reading.memAvailable = readField(readSmallFile(m_root + QStringLiteral("/proc/meminfo")), "MemAvailable:");
    reading.groupHeadroom = groupHeadroom(m_group);
    return reading;
}

qint64 childrenResidentBytes(qint64 pid, const QString &root)
{
    static const qint64 pageSize = ::sysconf(_SC_PAGESIZE);
    const QByteArray parent = QByteArray::number(pid);
    qint64 total = 0;
    const QDir proc(root + QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (entry.isEmpty() || !entry.at(0).isDigit())
            continue;
        // The name in parentheses may hold spaces: the fields are counted after its last ')'.
        const QByteArray stat = readSmallFile(proc.filePath(entry) + QStringLiteral("/stat"));
        const qsizetype close = stat.lastIndexOf(')');
        if (close < 0)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        // fields[0] is the state (field 3 of stat), so ppid is [1] and rss (field 24) is [21].
        if (fields.size() > 21 && fields.at(1) == parent)
            total += fields.at(21).toLongLong() * pageSize;
    }
    return total;
}

} // namespace MemoryProbe
