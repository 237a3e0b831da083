#pragma once

#include "clioptions.h"

// The commands of pikora-cli; each returns the process exit status. convert is the run
// (convertcommand.cpp), check the archive's check (checkcommand.cpp); the others are here.
namespace CliCommands {

int convert(const CliOptions &options);
int verify(const CliOptions &options);
int check(const CliOptions &options);
int scan(const CliOptions &options);
int stats(const CliOptions &options);

// A tool path given on the command line is used as given or not at all: falling back to
// another cjxl would run a program the user did not ask for. False, said on standard error,
// when one is not an executable file.
bool explicitToolsUsable(const CliOptions &options);

} // namespace CliCommands
