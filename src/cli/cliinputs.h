#pragma once

#include "clioptions.h"
#include "engine/filescanner.h"
#include "engine/pathkey.h"
#include "model/taskitem.h"

#include <QList>
#include <QSet>
#include <QUrl>

#include <functional>
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

// The photos of one direction read a part at a time, this process's shard of them, each file
// once over the whole run: a run over any number of photos holds about one part. Paths that are
// not there and folders that cannot be read are said on standard error as they are met.
class PhotoFeed final
{
    Q_DISABLE_COPY_MOVE(PhotoFeed)

public:
    PhotoFeed(const Inputs &inputs, const CliOptions &options, ConversionMode mode);

    bool atEnd() const { return m_stream.atEnd() && m_unnameable.isEmpty(); }
    // The jobs of the next part of at most limit photos, then failed jobs for those of its photos
    // that cannot be named. look, when given, sees the part before its jobs are made.
    QList<TaskItem> next(qsizetype limit, const std::function<void(const ScanResult &)> &look = {});
    // A path given was not there, or a folder could not be read.
    bool unreachable() const { return m_unreachable; }

private:
    ScanStream m_stream;
    QList<ScanProblem> m_unnameable;
    std::optional<std::pair<int, int>> m_shard;
    ConversionMode m_mode;
    QSet<PathKey> m_seen;
    bool m_unreachable = false;
};

} // namespace CliInputs
