#pragma once

#include "clioptions.h"

// The commands of pikora-cli; each returns the process exit status.
namespace CliCommands {

int convert(const CliOptions &options);
int verify(const CliOptions &options);
int scan(const CliOptions &options);
int stats(const CliOptions &options);

} // namespace CliCommands
