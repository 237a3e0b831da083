#pragma once

#include <QString>

#include <optional>

// How much memory new work can take now: what the kernel could hand out without swapping or
// killing (MemAvailable), and what this process's memory control group still allows (cgroup v2
// or v1, the group and every ancestor with a limit). Everything is read from procfs and the
// cgroup file system below a root folder, so tests can lay out a fake tree.
namespace MemoryProbe {

struct Reading
{
    std::optional<qint64> memAvailable;
    // Tightest limit minus use (reclaimable file cache not counted as use) over the group and
    // its ancestors; nothing when no level has a limit.
    std::optional<qint64> groupHeadroom;

    // The smaller of the two; nothing when neither could be read.
    std::optional<qint64> available() const;
};

// The memory group's folder in the cgroup file system and the hierarchy's mount point.
struct Group
{
    QString path;
    QString mountPath; // the walk up to the ancestors stops here
    bool v2 = false;
};

Reading read(const QString &root = QStringLiteral("/"));

// Reads again and again for this process: the group is looked up once (a process stays in the
// group it runs in), so a reading opens only the files whose numbers change.
class Meter
{
public:
    explicit Meter(QString root = QStringLiteral("/"));
    Reading read();

private:
    QString m_root;
    bool m_looked = false;
    std::optional<Group> m_group;
};

// Resident bytes of the direct children of process pid (the tools a batch runs); 0 for none.
qint64 childrenResidentBytes(qint64 pid, const QString &root = QStringLiteral("/"));

} // namespace MemoryProbe
