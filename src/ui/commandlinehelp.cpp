#include "ui/commandlinehelp.h"

#include "version.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstring>

namespace CommandLineHelp {

namespace {

QString text(const char *source)
{
    return QCoreApplication::translate("CommandLineHelp", source);
}

} // namespace

std::optional<int> answer(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--version") == 0) {
            QTextStream(stdout) << "pikora " << PIKORA_VERSION << " (build " << PIKORA_BUILD_NUMBER << ")\n";
            return 0;
        }
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            QTextStream(stdout)
                << text("Usage: pikora [--compress | --restore] [PATH | URL]...\n"
                        "Open the Pikora window with the photos found in the given files and folders in its\n"
                        "list, or hand them to the window already open. Nothing is converted until the batch\n"
                        "is started in the window.\n"
                        "\n"
                        "Options:\n"
                        "  --compress     show the JPEG to JPEG XL list and add the JPEG files found\n"
                        "  --restore      show the JPEG XL to JPEG list and add the JPEG XL files found\n"
                        "  -h, --help     show this help and exit\n"
                        "  --version      show the version and exit\n"
                        "\n"
                        "PATH is a file or a folder. URL is a file:// URL or pikora://import?path=FILE.\n"
                        "Options of the Qt toolkit (such as -platform) are accepted as well.\n");
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace CommandLineHelp
