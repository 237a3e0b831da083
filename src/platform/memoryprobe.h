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

Reading read(const QString &root = QStringLiteral("/"));

// Resident bytes of the direct children of process pid (the tools a batch runs); 0 for none.
qint64 childrenResidentBytes(qint64 pid, const QString &root = QStringLiteral("/"));

} // namespace MemoryProbe
