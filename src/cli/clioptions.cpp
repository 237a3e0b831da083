#include "clioptions.h"

#include <QCommandLineParser>

namespace {

std::optional<int> parseInt(const QString &text, int minimum, int maximum)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

} // namespace

QString cliUsage()
{
    return QStringLiteral(
        "Usage: pikora-cli COMMAND [options] ...\n"
        "\n"
        "Commands:\n"
        "  compress [options] PATH...   convert the JPEG files found in files and folders to JPEG XL\n"
        "  restore [options] PATH...    rebuild the original JPEG files from JPEG XL files\n"
        "  verify JPEG JXL              check that JXL restores JPEG byte for byte\n"
        "  scan [--json] PATH...        show what an import would find, convert nothing\n"
        "  stats [--json]               show the lifetime savings\n"
        "  check-update [--feed URL]    look for a newer release\n"
        "\n"
        "Options of compress and restore:\n"
        "  -e, --effort N               encoder effort 1-9 (default: the saved setting)\n"
        "  -o, --originals keep|trash|delete\n"
        "                               what becomes of each original after success\n"
        "  --verify                     verify every conversion, also when originals are kept\n"
        "  --cjxl PATH, --djxl PATH     use these tools\n"
        "  -j, --jobs N                 jobs at once (default: the saved concurrency)\n"
        "  --json                       one JSON object per finished job\n"
        "  -q, --quiet                  print failures only\n"
        "  --output-dir DIR             write the outputs below DIR, keeping the folder tree\n"
        "\n"
        "Options of compress, restore and scan:\n"
        "  --files-from FILE            also take the paths listed in FILE (- for standard input),\n"
        "                               one a line\n"
        "  -0, --null                   the list of --files-from is separated by NUL bytes\n"
        "  --shard K/N                  take only the photos of shard K of N (0 <= K < N), chosen\n"
        "                               by their path below the folder they were found in\n"
        "\n"
        "Exit status: 0 all jobs completed or skipped; 1 a job failed, a path was missing or unreadable, or an\n"
        "original could not be trashed or deleted; 2 bad usage, missing tool or no room on disk;\n"
        "130 interrupted.\n");
}

CliParse parseCliArguments(const QStringList &arguments)
{
    CliParse parse;
    CliOptions options;
    const QString word = arguments.value(1);
    static const QList<std::pair<QString, CliOptions::Command>> commands{
        {QStringLiteral("compress"), CliOptions::Command::compress},
        {QStringLiteral("restore"), CliOptions::Command::restore},
        {QStringLiteral("verify"), CliOptions::Command::verify},
        {QStringLiteral("scan"), CliOptions::Command::scan},
        {QStringLiteral("stats"), CliOptions::Command::stats},
        {QStringLiteral("check-update"), CliOptions::Command::checkUpdate},
        {QStringLiteral("help"), CliOptions::Command::help},
        {QStringLiteral("--help"), CliOptions::Command::help},
        {QStringLiteral("-h"), CliOptions::Command::help},
        {QStringLiteral("--version"), CliOptions::Command::version},
    };
    bool known = false;
    for (const auto &[name, command] : commands) {
        if (word == name) {
            options.command = command;
            known = true;
        }
    }
    if (!known) {
        parse.error = word.isEmpty() ? QStringLiteral("no command given")
                                     : QStringLiteral("unknown command \"%1\"").arg(word);
        return parse;
    }
    if (options.command == CliOptions::Command::checkUpdate) {
        options.rest = arguments.mid(2);
        parse.options = options;
        return parse;
    }
    if (options.command == CliOptions::Command::help || options.command == CliOptions::Command::version) {
        parse.options = options;
        return parse;
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption effort({QStringLiteral("e"), QStringLiteral("effort")}, {}, QStringLiteral("N"));
    const QCommandLineOption originals({QStringLiteral("o"), QStringLiteral("originals")}, {}, QStringLiteral("WHAT"));
    const QCommandLineOption verify(QStringList{QStringLiteral("verify")});
    const QCommandLineOption cjxl(QStringLiteral("cjxl"), {}, QStringLiteral("PATH"));
    const QCommandLineOption djxl(QStringLiteral("djxl"), {}, QStringLiteral("PATH"));
    const QCommandLineOption jobs({QStringLiteral("j"), QStringLiteral("jobs")}, {}, QStringLiteral("N"));
    const QCommandLineOption json(QStringList{QStringLiteral("json")});
    const QCommandLineOption quiet(QStringList{QStringLiteral("q"), QStringLiteral("quiet")});
    const QCommandLineOption outputDir(QStringLiteral("output-dir"), {}, QStringLiteral("DIR"));
    const QCommandLineOption filesFrom(QStringLiteral("files-from"), {}, QStringLiteral("FILE"));
    const QCommandLineOption nul(QStringList{QStringLiteral("0"), QStringLiteral("null")});
    const QCommandLineOption shard(QStringLiteral("shard"), {}, QStringLiteral("K/N"));
    const bool converting =
        options.command == CliOptions::Command::compress || options.command == CliOptions::Command::restore;
    const bool listing = converting || options.command == CliOptions::Command::scan;
    if (converting)
        parser.addOptions({effort, originals, verify, cjxl, djxl, jobs, json, quiet, outputDir});
    else if (options.command == CliOptions::Command::verify)
        parser.addOption(djxl);
    else
        parser.addOption(json);
    if (listing)
        parser.addOptions({filesFrom, nul, shard});

    QStringList toParse = arguments;
    toParse.removeAt(1);
    if (!parser.parse(toParse)) {
        parse.error = parser.errorText();
        return parse;
    }
    options.paths = parser.positionalArguments();
    if (converting) {
        if (parser.isSet(effort)) {
            options.effort = parseInt(parser.value(effort), 1, 9);
            if (!options.effort) {
                parse.error = QStringLiteral("--effort takes a whole number from 1 to 9");
                return parse;
            }
        }
        if (parser.isSet(originals)) {
            options.originals = deleteStrategyFromRawValue(parser.value(originals));
            if (!options.originals) {
                parse.error = QStringLiteral("--originals takes keep, trash or delete");
                return parse;
            }
        }
        if (parser.isSet(jobs)) {
            options.jobs = parseInt(parser.value(jobs), 1, 1024);
            if (!options.jobs) {
                parse.error = QStringLiteral("--jobs takes a whole number from 1 to 1024");
                return parse;
            }
        }
        if (parser.isSet(cjxl))
            options.cjxl = parser.value(cjxl);
        options.verify = parser.isSet(verify);
        options.quiet = parser.isSet(quiet);
    }
    if (converting || options.command == CliOptions::Command::verify) {
        if (parser.isSet(djxl))
            options.djxl = parser.value(djxl);
    }
    if (options.command != CliOptions::Command::verify)
        options.json = parser.isSet(json);
    if (converting && parser.isSet(outputDir)) {
        options.outputDir = parser.value(outputDir);
        if (options.outputDir->isEmpty()) {
            parse.error = QStringLiteral("--output-dir takes a folder");
            return parse;
        }
    }
    if (listing) {
        if (parser.isSet(filesFrom))
            options.filesFrom = parser.value(filesFrom);
        options.nulSeparated = parser.isSet(nul);
        if (options.nulSeparated && !options.filesFrom) {
            parse.error = QStringLiteral("-0 goes with --files-from");
            return parse;
        }
        if (parser.isSet(shard)) {
            const QStringList parts = parser.value(shard).split(QLatin1Char('/'));
            const std::optional<int> count = parts.size() == 2 ? parseInt(parts.at(1), 1, 1000000) : std::nullopt;
            const std::optional<int> index = count ? parseInt(parts.at(0), 0, *count - 1) : std::nullopt;
            if (!index) {
                parse.error = QStringLiteral("--shard takes K/N with 0 <= K < N");
                return parse;
            }
            options.shard = std::pair{*index, *count};
        }
    }

    if (converting && options.paths.isEmpty() && !options.filesFrom) {
        parse.error = QStringLiteral("give at least one file or folder");
        return parse;
    }
    if (options.command == CliOptions::Command::scan && options.paths.isEmpty() && !options.filesFrom) {
        parse.error = QStringLiteral("give at least one file or folder");
        return parse;
    }
    if (options.command == CliOptions::Command::verify && options.paths.size() != 2) {
        parse.error = QStringLiteral("verify takes a JPEG file and a JXL file");
        return parse;
    }
    if (options.command == CliOptions::Command::stats && !options.paths.isEmpty()) {
        parse.error = QStringLiteral("stats takes no paths");
        return parse;
    }
    parse.options = options;
    return parse;
}
