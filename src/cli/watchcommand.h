#pragma once

#include "clioptions.h"

// pikora-cli watch: converts what the folders hold, then every JPEG that arrives or changes in
// them once it has settled, until SIGINT or SIGTERM. Returns the exit status.
int watchCommand(const CliOptions &options);
