#pragma once

#include "clioptions.h"
#include "engine/filescanner.h"
#include "engine/pathkey.h"
#include "model/taskitem.h"

#include <QList>
#include <QSet>
#include <QUrl>

#include <optional>

// The photos a command works on: the paths given and listed (--files-from), this process's
// shard of them, and the jobs they make.
namespace CliInputs {

// The paths given and listed, and the listed paths that cannot be named.
struct Inputs
{
    QList<QUrl> urls;
    QList<ScanProblem> unnameable;
};

// Nothing when the list cannot be read (said on standard error).
std::optional<Inputs> of(const CliOptions &options);

// Scans the paths given and listed, keeping the photos of this process's shard. Nothing when
// the list cannot be read.
std::optional<ScanResult> gather(const CliOptions &options);

// Leaves the photos of one shard; photos that cannot be named are reported by shard 0 alone.
void keepShard(ScanResult &result, int index, int count);

// One job per photo of the direction, once per file over the whole run (keyed by its real path,
// so a link and the photo it names, met in any parts, make one job), then the photos that
// cannot be named.
QList<TaskItem> jobsOf(const ScanResult &result, ConversionMode mode, const QList<TaskItem> &unnameable,
                       QSet<PathKey> &seen);

} // namespace CliInputs
