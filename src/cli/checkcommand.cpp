#include "clicommands.h"

#include "app/settingsstore.h"
#include "checkreport.h"
#include "cliconsole.h"
#include "cliinputs.h"
#include "engine/archivecheck.h"
#include "engine/jxlerror.h"
#include "engine/toolcommands.h"
#include "interrupt.h"
#include "platform/hardwaredetector.h"
#include "progressline.h"

#include <QEventLoop>
#include <QSet>
#include <QTimer>

#include <unistd.h>

#include <functional>

namespace CliCommands {

namespace {

using CliConsole::err;
using CliConsole::out;

// Files read from the disk at a time.
constexpr qsizetype kPartSize = 1000;
constexpr qint64 kSecondsPerDay = 24 * 60 * 60;

} // namespace

int check(const CliOptions &options)
{
    if (!explicitToolsUsable(options))
        return 2;
    // The saved concurrency and djxl apply, as they do to a restore; the options override them.
    SettingsStore store(HardwareDetector::thisMachine());
    RunOverrides overrides;
    overrides.jobs = options.jobs;
    overrides.customDjxlPath = options.djxl;
    store.setRunOverrides(overrides);
    const QString djxl = store.customDjxlPath();
    if (!ToolCommands::resolveToolPath(QStringLiteral("djxl"), djxl)) {
        err() << JXLError::toolNotFound(QStringLiteral("djxl")).errorDescription() << Qt::endl;
        return 2;
    }
    const qsizetype window = store.batchWindowLimit();
    const std::optional<CliInputs::Inputs> inputs = CliInputs::of(options);
    if (!inputs)
        return 2;
    CliInputs::PhotoFeed feed(*inputs, options, ConversionMode::jxlToJPEG);

    const bool terminal = ::isatty(STDOUT_FILENO) && !options.json && !options.quiet;
    ProgressLine progress(terminal);
    CheckReport::Tally tally;
    qsizetype total = 0;
    QList<QString> queue;
    QObject owner; // the running checks: gone with it, their tools killed and copies removed
    QSet<ArchiveCheck *> running;
    bool interrupted = false;
    QEventLoop loop;

    const auto report = [&](const CheckReport::Entry &entry) {
        tally.add(entry);
        progress.clear();
        const bool problem = CheckReport::isProblem(entry.verdict, options.strict);
        if (options.json)
            out() << CheckReport::json(entry) << Qt::endl;
        else if (!options.quiet || problem)
            (options.quiet ? err() : out()) << CheckReport::line(entry) << Qt::endl;
    };
    // Starts checks until the window is full, reading the next part when the queue runs dry.
    std::function<void()> fill = [&] {
        while (!interrupted && running.size() < window) {
            if (queue.isEmpty()) {
                if (feed.atEnd())
                    return;
                for (const TaskItem &task : feed.next(kPartSize)) {
                    ++total;
                    if (task.isRunnable())
                        queue.append(task.sourceURL.toLocalFile());
                    else
                        report(CheckReport::Entry::ofRefused(task));
                }
                continue;
            }
            auto *check = new ArchiveCheck(queue.takeFirst(), djxl, &owner);
            if (options.olderThanDays)
                check->skipCheckedWithin(qint64(*options.olderThanDays) * kSecondsPerDay);
            QObject::connect(check, &ArchiveCheck::finished, &loop, [&, check] {
                running.remove(check);
                check->deleteLater();
                report(CheckReport::Entry::of(*check));
                fill();
                progress.draw(tally.done, total);
                if (running.isEmpty())
                    loop.quit();
            });
            running.insert(check);
            check->start();
        }
    };
    // Set up before the first part is read, so that a Ctrl-C while it is read stops the run too.
    Interrupt interrupt;
    QObject::connect(&interrupt, &Interrupt::requested, &loop, [&] {
        if (interrupted) { // a second Ctrl-C: stop waiting; the owner's end kills the tools
            loop.quit();
            return;
        }
        interrupted = true;
        progress.clear();
        err() << CliTexts::tr("已中断：正在停止运行中的任务...") << Qt::endl;
        for (ArchiveCheck *check : std::as_const(running))
            check->cancel();
    });
    fill();

    if (running.isEmpty()) {
        if (!options.quiet && !options.json && tally.done == 0)
            out() << CliTexts::tr("未找到 JPEG XL 文件。") << Qt::endl;
        return tally.problems(options.strict) > 0 || feed.unreachable() ? 1 : 0;
    }

    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &loop, [&] { progress.draw(tally.done, total); });
    if (terminal)
        ticker.start(1000);
    progress.draw(tally.done, total);
    loop.exec();
    progress.clear();

    if (!options.quiet && !options.json)
        out() << CheckReport::summaryLine(tally, progress.elapsed()) << Qt::endl;
    if (interrupted)
        return 130;
    return tally.problems(options.strict) > 0 || feed.unreachable() ? 1 : 0;
}

} // namespace CliCommands
