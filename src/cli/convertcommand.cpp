#include "clicommands.h"

#include "cliconsole.h"
#include "cliinputs.h"
#include "conversionrun.h"
#include "engine/outputfiles.h"

namespace CliCommands {

int convert(const CliOptions &options)
{
    const ConversionMode mode =
        options.command == CliOptions::Command::compress ? ConversionMode::jpegToJXL : ConversionMode::jxlToJPEG;
    ConversionRun run(options, mode, true);
    if (const std::optional<int> status = run.prepare())
        return *status;
    const std::optional<CliInputs::Inputs> inputs = CliInputs::of(options);
    if (!inputs)
        return 2;
    // A killed run's hidden temporaries go from the folders given now, not only where a job writes.
    OutputFiles::removeDeadLeftoversAround(inputs->urls);

    // The photos are read a part at a time as the jobs before them finish, and a finished job
    // leaves the list once reported: a run over any number of photos holds about two parts.
    run.addPaths(inputs->urls, inputs->unnameable);
    if (!run.readAhead()) {
        if (!options.quiet && !options.json && run.tally().refused == 0)
            CliConsole::out() << (mode == ConversionMode::jpegToJXL ? CliTexts::tr("未找到 JPEG 文件。")
                                                                    : CliTexts::tr("未找到 JPEG XL 文件。"))
                              << Qt::endl;
        return run.tally().refused > 0 || run.metUnreachable() ? 1 : 0;
    }

    const ConversionRun::Ending ending = run.exec(false);
    if (ending == ConversionRun::Ending::refused) {
        CliConsole::err() << *run.diskWarning() << Qt::endl;
        return 2;
    }
    if (!options.quiet && !options.json)
        CliConsole::out() << run.summaryLine() << Qt::endl;
    if (ending == ConversionRun::Ending::interrupted)
        return 130;
    const RunReport::Tally &tally = run.tally();
    return tally.failed > 0 || tally.refused > 0 || tally.kept > 0 || run.metUnreachable() ? 1 : 0;
}

} // namespace CliCommands
