#include "clicommands.h"

#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "cliconsole.h"
#include "cliinputs.h"
#include "engine/filescanner.h"
#include "engine/jxlerror.h"
#include "engine/outputfiles.h"
#include "engine/toolcommands.h"
#include "interrupt.h"
#include "progressline.h"
#include "runreport.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSet>
#include <QTimer>

#include <unistd.h>

#include <utility>

namespace CliCommands {

namespace {

using CliConsole::err;
using CliConsole::out;

// Photos read from the disk at a time.
constexpr qsizetype kPartSize = 1000;
// Reported jobs leave the list this many at a time: a removal renumbers every row after it.
constexpr qsizetype kRemovalBatch = 64;

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
            err() << "pikora-cli: " << CliTexts::tr("--output-dir %1：不是文件夹").arg(folder) << Qt::endl;
            return 2;
        }
        batch.setOutputFolder(folder);
    }

    workspace.switchMode(mode);
    QEventLoop loop;
    const std::optional<CliInputs::Inputs> inputs = CliInputs::of(options);
    if (!inputs)
        return 2;
    // A killed run's hidden temporaries go from the folders given now, not only where a job writes.
    OutputFiles::removeDeadLeftoversAround(inputs->urls);

    // The photos are read a part at a time as the jobs before them finish, and a finished job
    // leaves the list once reported: a run over any number of photos holds about two parts.
    CliInputs::PhotoFeed feed(*inputs, options, mode);
    TaskList *list = workspace.tasks(mode);
    RunReport::Tally tally;
    qsizetype total = 0;
    // Reads parts until one brings a job to run or the photos are all read. Paths that were not
    // there, folders that could not be read and photos that cannot be named safely (failed jobs
    // from the start, never run) all make the run end with 1; the rest of the paths still run.
    const auto readAhead = [&] {
        while (!feed.atEnd()) {
            QList<TaskItem> runnable;
            const QList<TaskItem> jobs =
                feed.next(kPartSize, [](const ScanResult &part) { OutputFiles::removeDeadLeftoversAround({}, part); });
            for (const TaskItem &task : jobs) {
                if (task.isRunnable()) {
                    runnable.append(task);
                    continue;
                }
                ++tally.refused;
                if (options.json)
                    out() << RunReport::jobJson(task) << Qt::endl;
                else
                    (options.quiet ? err() : out()) << RunReport::jobLine(task) << Qt::endl;
            }
            total += runnable.size();
            list->append(runnable);
            if (!runnable.isEmpty())
                return;
        }
    };
    readAhead();

    if (list->isEmpty()) {
        if (!options.quiet && !options.json && tally.refused == 0)
            out() << (mode == ConversionMode::jpegToJXL ? CliTexts::tr("未找到 JPEG 文件。") : CliTexts::tr("未找到 JPEG XL 文件。"))
                  << Qt::endl;
        return tally.refused > 0 || feed.unreachable() ? 1 : 0;
    }

    const bool terminal = ::isatty(STDOUT_FILENO) && !options.json && !options.quiet;
    ProgressLine progress(terminal);
    bool interrupted = false;
    bool finished = false;
    QSet<QUuid> reported; // still listed, to be removed with the next ones

    QObject::connect(&batch, &BatchController::jobFinished, &loop, [&](const TaskItem &task) {
        tally.add(task);
        progress.clear();
        if (options.json)
            out() << RunReport::jobJson(task) << Qt::endl;
        else if (task.status == TaskStatus::failed || (options.quiet && task.warning))
            (options.quiet ? err() : out()) << RunReport::jobLine(task) << Qt::endl;
        else if (!options.quiet)
            out() << RunReport::jobLine(task) << Qt::endl;
        // Reported: the summary needs only the counts. The next part is read while the jobs
        // already listed keep the tools busy, and runs as the batch's follow-up.
        reported.insert(task.id);
        if (reported.size() >= kRemovalBatch) {
            list->remove(reported);
            reported.clear();
        }
        if (!interrupted && list->size() - reported.size() <= kPartSize)
            readAhead();
        progress.draw(tally.done, total, tally.saved);
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
        err() << CliTexts::tr("已中断：正在停止运行中的任务...") << Qt::endl;
        runner.cancel();
        settle.start();
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] { progress.draw(tally.done, total, tally.saved); });
    if (terminal)
        ticker.start(1000);

    // The disk check runs in the background: a refusal ends the wait like the batch's end does.
    QObject::connect(&runner, &BatchRunner::diskWarningMessageChanged, &loop, &QEventLoop::quit);
    runner.startCurrentProcessing();
    if (runner.isProcessing() || batch.isPreparing()) {
        progress.draw(tally.done, total, tally.saved);
        loop.exec();
    }
    progress.clear();
    if (runner.diskWarningMessage()) {
        err() << *runner.diskWarningMessage() << Qt::endl;
        return 2;
    }

    if (!options.quiet && !options.json)
        out() << RunReport::summaryLine(tally, mode, progress.elapsed()) << Qt::endl;
    if (interrupted || !finished)
        return 130;
    return tally.failed > 0 || tally.refused > 0 || tally.kept > 0 || feed.unreachable() ? 1 : 0;
}

} // namespace CliCommands
