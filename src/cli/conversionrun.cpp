#include "conversionrun.h"

#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "cliconsole.h"
#include "clicommands.h"
#include "cliinputs.h"
#include "engine/jxlerror.h"
#include "engine/outputfiles.h"
#include "engine/toolcommands.h"
#include "interrupt.h"

#include <QDir>
#include <QFileInfo>

#include <unistd.h>

#include <utility>

namespace {

using CliConsole::err;
using CliConsole::out;

// Photos read from the disk at a time.
constexpr qsizetype kPartSize = 1000;
// Reported jobs leave the list this many at a time: a removal renumbers every row after it.
constexpr qsizetype kRemovalBatch = 64;

} // namespace

ConversionRun::ConversionRun(const CliOptions &options, ConversionMode mode, bool progress, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_mode(mode)
    , m_state(std::make_unique<AppState>(BatchFeedback::Devices{})) // the command line posts nothing and plays nothing
    , m_progress(progress && ::isatty(STDOUT_FILENO) && !options.json && !options.quiet)
{
    BatchController *batch = m_state->batch();
    BatchRunner *runner = m_state->runner();
    connect(batch, &BatchController::jobFinished, this, &ConversionRun::onJobFinished);
    connect(batch, &BatchController::finished, this, [this] {
        m_finished = true;
        flushReported();
        if (!m_keepRunning) {
            m_loop.quit();
        } else if (!m_interrupted) {
            readAhead();
            kick();
        }
    });
    m_stopping.setInterval(50);
    connect(&m_stopping, &QTimer::timeout, this, [this] {
        if (m_state->batch()->runningJobCount() == 0)
            m_loop.quit();
    });
    connect(&m_ticker, &QTimer::timeout, this, [this] { m_progress.draw(m_tally.done, m_total, m_tally.saved); });
    // The disk check runs in the background: a refusal ends the wait like the batch's end does.
    connect(runner, &BatchRunner::diskWarningMessageChanged, &m_loop, &QEventLoop::quit);
}

ConversionRun::~ConversionRun() = default;

std::optional<int> ConversionRun::prepare()
{
    if (!CliCommands::explicitToolsUsable(m_options))
        return 2;
    SettingsStore &store = *m_state->settings();
    RunOverrides overrides;
    overrides.jobs = m_options.jobs;
    overrides.compressionEffort = m_options.effort;
    overrides.deleteStrategy = m_options.originals;
    if (m_options.verify)
        overrides.verifyLossless = true;
    overrides.customCjxlPath = m_options.cjxl;
    overrides.customDjxlPath = m_options.djxl;
    store.setRunOverrides(overrides);

    // Missing tools are a usage problem, reported before anything is scanned.
    const AppSettings &settings = store.settings();
    const DeleteStrategy strategy = m_options.originals.value_or(settings.deleteStrategy);
    const bool verifying = m_mode == ConversionMode::jpegToJXL
        && (strategy != DeleteStrategy::keepOriginal || m_options.verify || settings.verifyLossless);
    QStringList needed;
    if (m_mode == ConversionMode::jpegToJXL)
        needed << QStringLiteral("cjxl");
    if (m_mode == ConversionMode::jxlToJPEG || verifying)
        needed << QStringLiteral("djxl");
    for (const QString &tool : std::as_const(needed)) {
        const QString custom = tool == QStringLiteral("cjxl") ? m_options.cjxl.value_or(settings.customCjxlPath)
                                                              : m_options.djxl.value_or(settings.customDjxlPath);
        if (!ToolCommands::resolveToolPath(tool, custom)) {
            err() << JXLError::toolNotFound(tool).errorDescription() << Qt::endl;
            return 2;
        }
    }

    if (m_options.outputDir) {
        const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(*m_options.outputDir));
        const QFileInfo info(folder);
        if (info.exists() && !info.isDir()) {
            err() << "pikora-cli: " << CliTexts::tr("--output-dir %1：不是文件夹").arg(folder) << Qt::endl;
            return 2;
        }
        m_state->batch()->setOutputFolder(folder);
    }
    m_state->workspace()->switchMode(m_mode);
    return std::nullopt;
}

void ConversionRun::addPaths(const QList<QUrl> &urls, const QList<ScanProblem> &unnameable)
{
    m_queuedUrls.append(urls);
    m_unnameable.append(unnameable);
    if (m_keepRunning && !m_state->batch()->isRunning() && !m_state->batch()->isPreparing()) {
        readAhead();
        kick();
    }
}

void ConversionRun::addJobs(const QList<TaskItem> &tasks)
{
    m_total += tasks.size();
    m_state->workspace()->tasks(m_mode)->append(tasks);
    kick();
}

bool ConversionRun::isListed(const QString &path)
{
    flushReported();
    return m_state->workspace()->tasks(m_mode)->containsPath(path);
}

bool ConversionRun::readAhead()
{
    TaskList *list = m_state->workspace()->tasks(m_mode);
    for (;;) {
        if (!m_feed || m_feed->atEnd()) {
            if (m_queuedUrls.isEmpty() && m_unnameable.isEmpty())
                break;
            // Each set of paths is its own scan: a photo met again in a later one is a new job.
            m_feed = std::make_unique<CliInputs::PhotoFeed>(
                CliInputs::Inputs{std::exchange(m_queuedUrls, {}), std::exchange(m_unnameable, {})}, m_options, m_mode);
        }
        // Paths that were not there, folders that could not be read and photos that cannot be
        // named safely (failed jobs from the start, never run) all make the run end with 1;
        // the rest of the paths still run.
        const QList<TaskItem> jobs =
            m_feed->next(kPartSize, [](const ScanResult &part) { OutputFiles::removeDeadLeftoversAround({}, part); });
        m_unreachable = m_unreachable || m_feed->unreachable();
        QList<TaskItem> runnable;
        for (TaskItem task : jobs) {
            if (task.isRunnable()) {
                if (!m_admission || m_admission(task))
                    runnable.append(task);
                continue;
            }
            ++m_tally.refused;
            report(task);
        }
        m_total += runnable.size();
        list->append(runnable);
        if (!runnable.isEmpty())
            break;
    }
    return !list->isEmpty();
}

void ConversionRun::report(const TaskItem &task)
{
    m_progress.clear();
    if (m_options.json)
        out() << RunReport::jobJson(task) << Qt::endl;
    else if (task.status == TaskStatus::failed || (m_options.quiet && task.warning))
        (m_options.quiet ? err() : out()) << RunReport::jobLine(task) << Qt::endl;
    else if (!m_options.quiet)
        out() << RunReport::jobLine(task) << Qt::endl;
    Q_EMIT jobReported(task);
}

void ConversionRun::onJobFinished(const TaskItem &task)
{
    m_tally.add(task);
    report(task);
    // Reported: the summary needs only the counts. The next part is read while the jobs already
    // listed keep the tools busy, and runs as the batch's follow-up.
    TaskList *list = m_state->workspace()->tasks(m_mode);
    if (task.status == TaskStatus::failed) {
        // A follow-up takes every failed job still listed: this one must not run again.
        list->remove({task.id});
    } else {
        m_reported.insert(task.id);
        if (m_reported.size() >= kRemovalBatch)
            flushReported();
    }
    if (!m_interrupted && list->size() - m_reported.size() <= kPartSize)
        readAhead();
    m_progress.draw(m_tally.done, m_total, m_tally.saved);
}

void ConversionRun::flushReported()
{
    if (m_reported.isEmpty())
        return;
    m_state->workspace()->tasks(m_mode)->remove(m_reported);
    m_reported.clear();
}

void ConversionRun::kick()
{
    BatchController *batch = m_state->batch();
    if (!m_interrupted && !batch->isRunning() && !batch->isPreparing()
        && !m_state->workspace()->tasks(m_mode)->isEmpty())
        m_state->runner()->startCurrentProcessing();
}

ConversionRun::Ending ConversionRun::exec(bool keepRunning)
{
    m_keepRunning = keepRunning;
    BatchRunner *runner = m_state->runner();
    Interrupt interrupt;
    connect(&interrupt, &Interrupt::requested, this, [this] {
        if (m_interrupted) { // a second Ctrl-C: stop waiting; the tools die with the process
            m_loop.quit();
            return;
        }
        m_interrupted = true;
        m_progress.clear();
        err() << CliTexts::tr("已中断：正在停止运行中的任务...") << Qt::endl;
        m_state->runner()->cancel();
        m_stopping.start();
    });
    if (m_progress.isEnabled())
        m_ticker.start(1000);
    if (keepRunning)
        readAhead();
    kick();
    if (keepRunning || runner->isProcessing() || m_state->batch()->isPreparing()) {
        m_progress.draw(m_tally.done, m_total, m_tally.saved);
        m_loop.exec();
    }
    m_ticker.stop();
    m_stopping.stop();
    m_progress.clear();
    if (runner->diskWarningMessage())
        return Ending::refused;
    if (m_interrupted || !m_finished)
        return Ending::interrupted;
    return Ending::done;
}

QString ConversionRun::summaryLine() const
{
    return RunReport::summaryLine(m_tally, m_mode, m_progress.elapsed());
}

std::optional<QString> ConversionRun::diskWarning() const
{
    return m_state->runner()->diskWarningMessage();
}
