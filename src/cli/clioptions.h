#pragma once

#include "model/taskitem.h"

#include <QStringList>

#include <optional>
#include <utility>

// What the command line asked for, parsed without side effects.
struct CliOptions
{
    enum class Command { compress, restore, verify, scan, stats, checkUpdate, help, version };

    Command command = Command::help;
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
    QStringList rest; // the arguments of commands that parse their own (check-update)
};

struct CliParse
{
    std::optional<CliOptions> options;
    QString error; // set when the arguments are not usable
};

CliParse parseCliArguments(const QStringList &arguments);
QString cliUsage();
