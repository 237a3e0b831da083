#pragma once

#include "model/taskitem.h"

#include <QStringList>

#include <optional>
#include <utility>

// What the command line asked for, parsed without side effects.
struct CliOptions
{
    enum class Command { compress, restore, watch, verify, check, scan, stats, checkUpdate, help, version };

    Command command = Command::help;
    // help: the command whose usage was asked for ("compress --help"); none for the overview.
    std::optional<Command> helpFor;
    QStringList paths;
    std::optional<int> effort;
    std::optional<DeleteStrategy> originals;
    bool verify = false;
    std::optional<QString> cjxl;
    std::optional<QString> djxl;
    std::optional<int> jobs;
    bool json = false;
    bool quiet = false;
    std::optional<QString> outputDir;
    std::optional<QString> filesFrom; // "-": standard input
    bool nulSeparated = false;        // the list of --files-from is separated by NUL bytes
    // This process takes shard first of second (0 <= first < second).
    std::optional<std::pair<int, int>> shard;
    std::optional<QString> feed; // check-update: the one feed to ask
    bool strict = false;              // check: a file nothing proves good fails the run
    std::optional<int> olderThanDays; // check: skip files checked good more recently
    qint64 settleMs = 10000;          // watch: how long a written photo is left alone before it is taken
    bool saved = false;               // watch: also the folders (and originals choice) saved for automatic conversion
};

struct CliParse
{
    std::optional<CliOptions> options;
    QString error; // set when the arguments are not usable
    // The usage to show with the error: that of the command named, else the overview.
    std::optional<CliOptions::Command> usageOf;
};

CliParse parseCliArguments(const QStringList &arguments);
// The overview of every command.
QString cliUsage();
// One command's usage and every option it takes; the overview for help and version.
QString commandUsage(CliOptions::Command command);
