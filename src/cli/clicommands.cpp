#include "clicommands.h"

#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/lifetimestats.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "engine/filescanner.h"
#include "engine/toolcommands.h"
#include "engine/jxlerror.h"
#include "engine/outputfiles.h"
#include "engine/pathkey.h"
#include "engine/shard.h"
#include "engine/verifier.h"
#include "interrupt.h"
#include "model/formattedbytes.h"
#include "platform/preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <tuple>
#include <utility>

namespace CliCommands {

namespace {

struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(CliCommands)
};

// Photos read from the disk at a time.
constexpr qsizetype kPartSize = 1000;
// Reported jobs leave the list this many at a time: a removal renumbers every row after it.
constexpr qsizetype kRemovalBatch = 64;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

QString statusName(TaskStatus status)
{
    switch (status) {
    case TaskStatus::pending:
        return QStringLiteral("pending");
    case TaskStatus::processing:
        return QStringLiteral("processing");
    case TaskStatus::verifying:
        return QStringLiteral("verifying");
    case TaskStatus::completed:
        return QStringLiteral("completed");
    case TaskStatus::failed:
        return QStringLiteral("failed");
    case TaskStatus::skipped:
        return QStringLiteral("skipped");
    }
    return {};
}

QByteArray jobJson(const TaskItem &task)
{
    QJsonObject object;
    object.insert(QStringLiteral("status"), statusName(task.status));
    object.insert(QStringLiteral("source"), task.sourcePathText());
    const bool hasOutput = task.status == TaskStatus::completed || task.status == TaskStatus::skipped;
    object.insert(QStringLiteral("output"),
                  hasOutput && task.destinationURL ? QJsonValue(task.destinationURL->toLocalFile()) : QJsonValue());
    object.insert(QStringLiteral("originalSize"), task.originalSize);
    object.insert(QStringLiteral("outputSize"),
                  task.compressedSize && hasOutput ? QJsonValue(*task.compressedSize) : QJsonValue());
    if (task.reused)
        object.insert(QStringLiteral("reused"), true);
    if (task.status == TaskStatus::skipped)
        object.insert(QStringLiteral("reason"), task.skipReason == SkipReason::notSmaller ? QStringLiteral("larger")
                                                                                        : QStringLiteral("converted"));
    object.insert(QStringLiteral("verified"), task.isVerified);
    object.insert(QStringLiteral("error"),
                  task.status == TaskStatus::failed && task.errorMessage ? QJsonValue(*task.errorMessage)
                                                                         : QJsonValue());
    object.insert(QStringLiteral("warning"), task.warning ? QJsonValue(*task.warning) : QJsonValue());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString jobLine(const TaskItem &task)
{
    const QString source = task.sourcePathText();
    switch (task.status) {
    case TaskStatus::completed: {
        // The sizes, then what else there is to say, as a list in the parentheses.
        QStringList details{QStringLiteral("%1 -> %2").arg(formattedBytes(task.originalSize),
                                                      formattedBytes(task.compressedSizeOrZero()))};
        if (task.savedBytes() > 0)
            details.append(QStringLiteral("-%1%").arg(task.savingsRatio(), 0, 'f', 1));
        if (task.isVerified)
            details.append(Texts::tr("已校验"));
        if (task.reused)
            details.append(Texts::tr("由之前的运行生成"));
        QString line = Texts::tr("完成    %1 -> %2（%3）")
                           .arg(source, task.destinationURL->toLocalFile(), details.join(Texts::tr("，")));
        if (task.warning)
            line += u'\n' + Texts::tr("        警告：%1").arg(*task.warning);
        return line;
    }
    case TaskStatus::failed:
        return Texts::tr("失败    %1：%2").arg(source, task.errorMessage.value_or(QString()));
    case TaskStatus::skipped:
        if (task.skipReason == SkipReason::notSmaller)
            return Texts::tr("已跳过  %1（转换后不会更小，已保留原 JPEG）").arg(source);
        return Texts::tr("已跳过  %1 -> %2（之前已转换）").arg(source, task.destinationURL.value_or(QUrl()).toLocalFile());
    default:
        return Texts::tr("已停止  %1").arg(source);
    }
}

QString elapsedText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// A tool path given on the command line is used as given or not at all: falling back to
// another cjxl would run a program the user did not ask for.
bool explicitToolsUsable(const CliOptions &options)
{
    bool usable = true;
    for (const auto &[option, path] : {std::pair{"--cjxl", options.cjxl}, std::pair{"--djxl", options.djxl}}) {
        if (path && !ToolCommands::isExecutableFile(*path)) {
            err() << "pikora-cli: " << Texts::tr("%1 %2：不是可执行文件").arg(QLatin1String(option), *path) << Qt::endl;
            usable = false;
        }
    }
    return usable;
}

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

// Leaves the photos of one shard; photos that cannot be named are reported by shard 0 alone.
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

// The paths given and listed, and the listed paths that cannot be named.
struct Inputs
{
    QList<QUrl> urls;
    QList<ScanProblem> unnameable;
};

// Nothing when the list cannot be read.
std::optional<Inputs> inputsOf(const CliOptions &options)
{
    QList<QUrl> urls = absoluteUrls(options.paths);
    QList<ScanProblem> unnameable;
    if (options.filesFrom) {
        QString error;
        const std::optional<QList<QByteArray>> listed = readPathList(*options.filesFrom, options.nulSeparated, &error);
        if (!listed) {
            err() << "pikora-cli: " << Texts::tr("--files-from %1：%2").arg(*options.filesFrom, error) << Qt::endl;
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

// Scans the paths given and listed, keeping the photos of this process's shard. Nothing when
// the list cannot be read.
std::optional<ScanResult> gather(const CliOptions &options)
{
    const std::optional<Inputs> inputs = inputsOf(options);
    if (!inputs)
        return std::nullopt;
    ScanResult result = FileScanner::scan(inputs->urls);
    result.problems.append(inputs->unnameable);
    if (options.shard)
        keepShard(result, options.shard->first, options.shard->second);
    return result;
}

// One job per photo of the direction, once per file over the whole run (keyed by its real path,
// so a link and the photo it names, met in any parts, make one job), then the photos that
// cannot be named.
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

// Redraws one status line on a terminal.
class ProgressLine
{
public:
    explicit ProgressLine(bool enabled) : m_enabled(enabled) { m_clock.start(); }

    void draw(qsizetype done, qsizetype total, qint64 saved)
    {
        if (!m_enabled)
            return;
        constexpr int kWidth = 24;
        const int filled = total > 0 ? int(done * kWidth / total) : 0;
        out() << "\r\033[K[" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char('-'))
              << "] " << done << '/' << total << "  " << Texts::tr("已节省 %1").arg(formattedBytes(saved)) << "  "
              << elapsedText(m_clock.elapsed()) << Qt::flush;
    }

    void clear()
    {
        if (m_enabled)
            out() << "\r\033[K" << Qt::flush;
    }

    qint64 elapsed() const { return m_clock.elapsed(); }

private:
    bool m_enabled;
    QElapsedTimer m_clock;
};

} // namespace

int convert(const CliOptions &options)
{
    const ConversionMode mode =
        options.command == CliOptions::Command::compress ? ConversionMode::jpegToJXL : ConversionMode::jxlToJPEG;

    if (!explicitToolsUsable(options))
        return 2;

    AppState state(BatchFeedback::Devices{}); // the command line posts nothing and plays nothing
    SettingsStore &store = *state.settings();
    Workspace &workspace = *state.workspace();
    BatchController &batch = *state.batch();
    BatchRunner &runner = *state.runner();
    RunOverrides overrides;
    overrides.jobs = options.jobs;
    overrides.compressionEffort = options.effort;
    overrides.deleteStrategy = options.originals;
    if (options.verify)
        overrides.verifyLossless = true;
    overrides.customCjxlPath = options.cjxl;
    overrides.customDjxlPath = options.djxl;
    store.setRunOverrides(overrides);

    // Missing tools are a usage problem, reported before anything is scanned.
    const AppSettings &settings = store.settings();
    const DeleteStrategy strategy = options.originals.value_or(settings.deleteStrategy);
    const bool verifying = mode == ConversionMode::jpegToJXL
        && (strategy != DeleteStrategy::keepOriginal || options.verify || settings.verifyLossless);
    QStringList needed;
    if (mode == ConversionMode::jpegToJXL)
        needed << QStringLiteral("cjxl");
    if (mode == ConversionMode::jxlToJPEG || verifying)
        needed << QStringLiteral("djxl");
    for (const QString &tool : std::as_const(needed)) {
        const QString custom = tool == QStringLiteral("cjxl") ? options.cjxl.value_or(settings.customCjxlPath)
                                                              : options.djxl.value_or(settings.customDjxlPath);
        if (!ToolCommands::resolveToolPath(tool, custom)) {
            err() << JXLError::toolNotFound(tool).errorDescription() << Qt::endl;
            return 2;
        }
    }

    if (options.outputDir) {
        const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(*options.outputDir));
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir()) {
            err() << "pikora-cli: " << Texts::tr("--output-dir %1：不是文件夹").arg(folder) << Qt::endl;
            return 2;
        }
        batch.setOutputFolder(folder);
    }

    workspace.switchMode(mode);
    QEventLoop loop;
    const std::optional<Inputs> inputs = inputsOf(options);
    if (!inputs)
        return 2;
    // A killed run's hidden temporaries go from the folders given now, not only where a job writes.
    OutputFiles::removeDeadLeftoversAround(inputs->urls);

    // The photos are read a part at a time as the jobs before them finish, and a finished job
    // leaves the list once reported: a run over any number of photos holds about two parts.
    ScanStream stream(inputs->urls);
    QList<ScanProblem> unnameable = inputs->unnameable;
    QSet<PathKey> seen;
    TaskList *list = workspace.tasks(mode);
    bool unreachable = false;
    qsizetype refused = 0;
    qsizetype total = 0;
    // Reads parts until one brings a job to run or the photos are all read.
    const auto readAhead = [&] {
        while (!stream.atEnd()) {
            ScanResult part = stream.next(kPartSize);
            part.problems.append(std::exchange(unnameable, {}));
            if (options.shard)
                keepShard(part, options.shard->first, options.shard->second);
            OutputFiles::removeDeadLeftoversAround({}, part);
            const FileScanner::ImportProblems problems = FileScanner::importProblems(part, mode);
            // Paths that were not there, folders that could not be read and photos that cannot be
            // named safely (failed jobs from the start, never run) all make the run end with 1;
            // the rest of the paths still run.
            unreachable = unreachable || !problems.messages.isEmpty();
            for (const QString &problem : problems.messages)
                err() << "pikora-cli: " << problem << Qt::endl;
            QList<TaskItem> runnable;
            for (const TaskItem &task : jobsOf(part, mode, problems.failedTasks, seen)) {
                if (task.isRunnable()) {
                    runnable.append(task);
                    continue;
                }
                ++refused;
                if (options.json)
                    out() << jobJson(task) << Qt::endl;
                else
                    (options.quiet ? err() : out()) << jobLine(task) << Qt::endl;
            }
            total += runnable.size();
            list->append(runnable);
            if (!runnable.isEmpty())
                return;
        }
    };
    readAhead();

    if (list->isEmpty()) {
        if (!options.quiet && !options.json && refused == 0)
            out() << (mode == ConversionMode::jpegToJXL ? Texts::tr("未找到 JPEG 文件。") : Texts::tr("未找到 JPEG XL 文件。"))
                  << Qt::endl;
        return refused > 0 || unreachable ? 1 : 0;
    }

    const bool terminal = ::isatty(STDOUT_FILENO) && !options.json && !options.quiet;
    ProgressLine progress(terminal);
    qsizetype done = 0;
    qsizetype failed = 0;
    qsizetype skipped = 0;
    qsizetype notSmaller = 0; // of the skipped: left as JPEG
    qsizetype kept = 0; // originals that could not be trashed or deleted as asked
    qint64 saved = 0;
    qint64 originalBytes = 0;
    bool interrupted = false;
    bool finished = false;
    QSet<QUuid> reported; // still listed, to be removed with the next ones

    QObject::connect(&batch, &BatchController::jobFinished, &loop, [&](const TaskItem &task) {
        if (task.status == TaskStatus::completed) {
            ++done;
            if (task.warning)
                ++kept;
            saved += task.savedBytes();
            originalBytes += task.originalSize;
        } else if (task.status == TaskStatus::failed) {
            ++done;
            ++failed;
        } else if (task.status == TaskStatus::skipped) {
            ++done;
            ++skipped;
            notSmaller += task.skipReason == SkipReason::notSmaller ? 1 : 0;
        }
        progress.clear();
        if (options.json)
            out() << jobJson(task) << Qt::endl;
        else if (task.status == TaskStatus::failed || (options.quiet && task.warning))
            (options.quiet ? err() : out()) << jobLine(task) << Qt::endl;
        else if (!options.quiet)
            out() << jobLine(task) << Qt::endl;
        // Reported: the summary needs only the counts. The next part is read while the jobs
        // already listed keep the tools busy, and runs as the batch's follow-up.
        reported.insert(task.id);
        if (reported.size() >= kRemovalBatch) {
            list->remove(reported);
            reported.clear();
        }
        if (!interrupted && list->size() - reported.size() <= kPartSize)
            readAhead();
        progress.draw(done, total, saved);
    });
    QObject::connect(&batch, &BatchController::finished, &loop, [&] {
        finished = true;
        loop.quit();
    });

    Interrupt interrupt;
    QTimer settle;
    settle.setInterval(50);
    QObject::connect(&settle, &QTimer::timeout, &loop, [&] {
        if (batch.runningJobCount() == 0)
            loop.quit();
    });
    QObject::connect(&interrupt, &Interrupt::requested, &loop, [&] {
        if (interrupted) { // a second Ctrl-C: stop waiting; the tools die with the process
            loop.quit();
            return;
        }
        interrupted = true;
        progress.clear();
        err() << Texts::tr("已中断：正在停止运行中的任务...") << Qt::endl;
        runner.cancel();
        settle.start();
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] { progress.draw(done, total, saved); });
    if (terminal)
        ticker.start(1000);

    // The disk check runs in the background: a refusal ends the wait like the batch's end does.
    QObject::connect(&runner, &BatchRunner::diskWarningMessageChanged, &loop, &QEventLoop::quit);
    runner.startCurrentProcessing();
    if (runner.isProcessing() || batch.isPreparing()) {
        progress.draw(done, total, saved);
        loop.exec();
    }
    progress.clear();
    if (runner.diskWarningMessage()) {
        err() << *runner.diskWarningMessage() << Qt::endl;
        return 2;
    }

    if (!options.quiet && !options.json) {
        QStringList parts{Texts::tr("%1 个完成，%2 个失败").arg(done - failed - skipped).arg(failed + refused)};
        if (skipped > notSmaller)
            parts.append(Texts::tr("%1 个已跳过").arg(skipped - notSmaller));
        if (notSmaller > 0)
            parts.append(Texts::tr("%n 个转换后不会更小，保留为 JPEG", nullptr, int(notSmaller)));
        if (kept > 0)
            parts.append(Texts::tr("%n 个原文件未能移除", nullptr, int(kept)));
        if (mode == ConversionMode::jpegToJXL) {
            parts.append(originalBytes > 0
                             ? Texts::tr("节省 %1，占 %2 的 %3%")
                                   .arg(formattedBytes(saved), formattedBytes(originalBytes),
                                        QString::number(double(saved) * 100.0 / double(originalBytes), 'f', 1))
                             : Texts::tr("节省 %1").arg(formattedBytes(saved)));
        }
        out() << Texts::tr("%1，用时 %2").arg(parts.join(Texts::tr("，")), elapsedText(progress.elapsed())) << Qt::endl;
    }
    if (interrupted || !finished)
        return 130;
    return failed > 0 || refused > 0 || kept > 0 || unreachable ? 1 : 0;
}

namespace {

enum class Signature { jpeg, jxl, other, unreadable };

Signature sniff(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Signature::unreadable;
    const QByteArray head = file.read(12);
    if (head.startsWith("\xFF\xD8\xFF"))
        return Signature::jpeg;
    if (head.startsWith("\xFF\x0A") || head == QByteArrayLiteral("\x00\x00\x00\x0CJXL \x0D\x0A\x87\x0A"))
        return Signature::jxl;
    return Signature::other;
}

} // namespace

int verify(const CliOptions &options)
{
    const QString jpeg = QDir::current().absoluteFilePath(options.paths.at(0));
    const QString jxl = QDir::current().absoluteFilePath(options.paths.at(1));
    if (!explicitToolsUsable(options))
        return 2;
    // djxl's words for a JPEG handed to it are no help; say what is wrong with the arguments.
    const Signature first = sniff(jpeg);
    const Signature second = sniff(jxl);
    if (first == Signature::jxl && second == Signature::jpeg) {
        err() << "pikora-cli: " << Texts::tr("参数顺序反了：verify 先接 JPEG，再接 JXL") << Qt::endl;
        return 2;
    }
    for (const auto &[path, signature, wanted, name] :
         {std::tuple{jpeg, first, Signature::jpeg, Texts::tr("%1 不是 JPEG 文件")},
          std::tuple{jxl, second, Signature::jxl, Texts::tr("%1 不是 JPEG XL 文件")}}) {
        if (signature == Signature::unreadable) {
            QFile file(path);
            file.open(QIODevice::ReadOnly);
            err() << "pikora-cli: " << Texts::tr("无法读取 %1：%2").arg(path, file.errorString()) << Qt::endl;
            return 2;
        }
        if (signature != wanted) {
            err() << "pikora-cli: " << QString(name).arg(path) << Qt::endl;
            return 2;
        }
    }
    if (!ToolCommands::resolveToolPath(QStringLiteral("djxl"), options.djxl.value_or(QString()))) {
        err() << JXLError::toolNotFound(QStringLiteral("djxl")).errorDescription() << Qt::endl;
        return 2;
    }
    Verification verification(jpeg, jxl, options.djxl.value_or(QString()));
    QEventLoop loop;
    QObject::connect(&verification, &Verification::finished, &loop, &QEventLoop::quit);
    verification.start();
    loop.exec();
    if (verification.outcome() == Verification::Outcome::passed) {
        out() << Texts::tr("一致：%1 可逐字节还原出 %2").arg(jxl, jpeg) << Qt::endl;
        return 0;
    }
    err() << (verification.error() ? verification.error()->errorDescription() : Texts::tr("已取消"))
          << Qt::endl;
    return 1;
}

int scan(const CliOptions &options)
{
    const std::optional<ScanResult> gathered = gather(options);
    if (!gathered)
        return 2;
    const ScanResult &result = *gathered;
    for (const ScanProblem &problem : result.problems)
        err() << "pikora-cli: " << problem.message() << Qt::endl;
    const int status = result.problems.isEmpty() ? 0 : 1;
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("jpegFiles"), result.jpegFiles.size());
        object.insert(QStringLiteral("jpegBytes"), result.totalJPEGBytes);
        object.insert(QStringLiteral("jxlFiles"), result.jxlFiles.size());
        object.insert(QStringLiteral("jxlBytes"), result.totalJXLBytes);
        object.insert(QStringLiteral("estimatedSavedBytes"), result.estimatedSavedBytes());
        out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return status;
    }
    out() << Texts::tr("JPEG：    %n 个文件，%1", nullptr, int(result.jpegFiles.size()))
                 .arg(formattedBytes(result.totalJPEGBytes))
          << Qt::endl
          << Texts::tr("JPEG XL： %n 个文件，%1", nullptr, int(result.jxlFiles.size()))
                 .arg(formattedBytes(result.totalJXLBytes))
          << Qt::endl
          << Texts::tr("预计可节省：%1").arg(formattedBytes(result.estimatedSavedBytes())) << Qt::endl;
    return status;
}

int stats(const CliOptions &options)
{
    const Preferences preferences;
    const qint64 bytes = preferences.int64(LifetimeStats::lifetimeBytesKey).value_or(0);
    const qint64 count = preferences.integer(LifetimeStats::lifetimeCountKey);
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("lifetimeSavedBytes"), bytes);
        object.insert(QStringLiteral("lifetimeProcessedCount"), count);
        out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return 0;
    }
    out() << Texts::tr("累计已节省 %1，共 %n 次转换", nullptr, int(std::min<qint64>(count, INT_MAX))).arg(formattedBytes(bytes))
          << Qt::endl;
    return 0;
}

} // namespace CliCommands
