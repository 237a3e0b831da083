#pragma once

#include <optional>

// pikora's answers to --help and --version, given before any window system is touched, so they
// work in a terminal without a display (the manual page is made from them at build time). The
// help follows the language rule of the window.
namespace CommandLineHelp {

// When the arguments ask for the help or the version: prints it and returns the exit status.
std::optional<int> answer(int argc, char *argv[]);

} // namespace CommandLineHelp
