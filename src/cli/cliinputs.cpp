#include "cliinputs.h"

#include "cliconsole.h"
#include "engine/shard.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace CliInputs {

namespace {

QList<QUrl> absoluteUrls(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(QDir::cleanPath(QDir::current().absoluteFilePath(path))));
    return urls;
}

// The paths of --files-from in the file system's bytes; empty entries are left out.
std::optional<QList<QByteArray>> readPathList(const QString &name, bool nulSeparated, QString *error)
{
    QFile input;
    bool opened = false;
    if (name == QStringLiteral("-")) {
        opened = input.open(stdin, QIODevice::ReadOnly);
    } else {
        input.setFileName(name);
        opened = input.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = input.errorString();
        return std::nullopt;
    }
    QList<QByteArray> paths;
    for (const QByteArray &entry : input.readAll().split(nulSeparated ? '\0' : '\n')) {
        if (!entry.isEmpty())
            paths.append(entry);
    }
    return paths;
}

} // namespace

std::optional<Inputs> of(const CliOptions &options)
{
    QList<QUrl> urls = absoluteUrls(options.paths);
    QList<ScanProblem> unnameable;
    if (options.filesFrom) {
        QString error;
        const std::optional<QList<QByteArray>> listed = readPathList(*options.filesFrom, options.nulSeparated, &error);
        if (!listed) {
            CliConsole::err() << "pikora-cli: " << CliTexts::tr("--files-from %1：%2").arg(*options.filesFrom, error)
                              << Qt::endl;
            return std::nullopt;
        }
        for (const QByteArray &raw : *listed) {
            // Such a path decodes to replacement characters, which could name another file.
            if (!FileScanner::isRepresentable(raw)) {
                ScanProblem problem;
                problem.kind = ScanProblem::Kind::undecodableName;
                problem.path = FileScanner::displayPath(raw);
                problem.jxl = raw.endsWith(".jxl") || raw.endsWith(".JXL");
                unnameable.append(problem);
                continue;
            }
            urls.append(absoluteUrls({QFile::decodeName(raw)}));
        }
    }
    return Inputs{urls, unnameable};
}

std::optional<ScanResult> gather(const CliOptions &options)
{
    const std::optional<Inputs> inputs = of(options);
    if (!inputs)
        return std::nullopt;
    ScanResult result = FileScanner::scan(inputs->urls);
    result.problems.append(inputs->unnameable);
    if (options.shard)
        keepShard(result, options.shard->first, options.shard->second);
    return result;
}

void keepShard(ScanResult &result, int index, int count)
{
    const auto filter = [&](QList<QUrl> &files, QList<qint64> &sizes, QStringList &roots, qint64 &total) {
        QList<QUrl> keptFiles;
        QList<qint64> keptSizes;
        QStringList keptRoots;
        total = 0;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (!Shard::takes(files.at(i).toLocalFile(), roots.at(i), index, count))
                continue;
            keptFiles.append(files.at(i));
            keptSizes.append(sizes.at(i));
            keptRoots.append(roots.at(i));
            total += std::max<qint64>(sizes.at(i), 0); // an unknown size counts as none
        }
        files = std::move(keptFiles);
        sizes = std::move(keptSizes);
        roots = std::move(keptRoots);
    };
    filter(result.jpegFiles, result.jpegSizes, result.jpegRoots, result.totalJPEGBytes);
    filter(result.jxlFiles, result.jxlSizes, result.jxlRoots, result.totalJXLBytes);
    if (index != 0)
        result.problems.removeIf([](const ScanProblem &problem) {
            return problem.kind == ScanProblem::Kind::undecodableName;
        });
}

QList<TaskItem> jobsOf(const ScanResult &result, ConversionMode mode, const QList<TaskItem> &unnameable,
                       QSet<PathKey> &seen)
{
    const bool jpegs = mode == ConversionMode::jpegToJXL;
    const QList<QUrl> &files = jpegs ? result.jpegFiles : result.jxlFiles;
    const QList<qint64> &sizes = jpegs ? result.jpegSizes : result.jxlSizes;
    const QStringList &roots = jpegs ? result.jpegRoots : result.jxlRoots;
    QList<TaskItem> tasks;
    FileScanner::forEachPhoto(result, mode, [&](qsizetype i, const QString &, const QString &realPath) {
        const PathKey key = PathKey::of(realPath);
        if (seen.contains(key))
            return;
        seen.insert(key);
        TaskItem task;
        task.sourceURL = files.at(i);
        task.mode = mode;
        task.originalSize = sizes.at(i);
        task.importRoot = roots.at(i);
        tasks.append(task);
    });
    tasks.append(unnameable);
    return tasks;
}

PhotoFeed::PhotoFeed(const Inputs &inputs, const CliOptions &options, ConversionMode mode)
    : m_stream(inputs.urls)
    , m_unnameable(inputs.unnameable)
    , m_shard(options.shard)
    , m_mode(mode)
{
}

QList<TaskItem> PhotoFeed::next(qsizetype limit, const std::function<void(const ScanResult &)> &look)
{
    ScanResult part = m_stream.next(limit);
    part.problems.append(std::exchange(m_unnameable, {}));
    if (m_shard)
        keepShard(part, m_shard->first, m_shard->second);
    if (look)
        look(part);
    const FileScanner::ImportProblems problems = FileScanner::importProblems(part, m_mode);
    // Photos that cannot be named come back as failed jobs; the rest fail the run here.
    m_unreachable = m_unreachable || !problems.messages.isEmpty();
    for (const QString &problem : problems.messages)
        CliConsole::err() << "pikora-cli: " << problem << Qt::endl;
    return jobsOf(part, m_mode, problems.failedTasks, m_seen);
}

} // namespace CliInputs
