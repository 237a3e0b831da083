#include "checkupdatecommand.h"
#include "clicommands.h"
#include "clioptions.h"
#include "platform/uilanguage.h"
#include "watchcommand.h"
#include "version.h"

#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <csignal>

int main(int argc, char *argv[])
{
    // A closed pipe (pikora-cli ... | head) must not kill the process with jobs half done.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pikora-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIKORA_VERSION));
    UiLanguage::install(&app);

    // Qt decodes arguments as UTF-8, turning other bytes into replacement characters: such a
    // path would name a different file, or none.
    for (int i = 1; i < argc; ++i) {
        if (QFile::encodeName(QFile::decodeName(argv[i])) != QByteArray(argv[i])) {
            QTextStream(stderr) << "pikora-cli: "
                                << QCoreApplication::translate(
                                       "CliMain", "第 %1 个参数不是有效的 UTF-8；请重命名该文件，或改为指定它所在的文件夹")
                                       .arg(i)
                                << '\n';
            return 2;
        }
    }
    const CliParse parse = parseCliArguments(QCoreApplication::arguments());
    if (!parse.options) {
        QTextStream(stderr) << "pikora-cli: " << parse.error << "\n\n"
                            << (parse.usageOf ? commandUsage(*parse.usageOf) : cliUsage());
        return 2;
    }
    const CliOptions &options = *parse.options;
    switch (options.command) {
    case CliOptions::Command::compress:
    case CliOptions::Command::restore:
        return CliCommands::convert(options);
    case CliOptions::Command::watch:
        return watchCommand(options);
    case CliOptions::Command::verify:
        return CliCommands::verify(options);
    case CliOptions::Command::check:
        return CliCommands::check(options);
    case CliOptions::Command::scan:
        return CliCommands::scan(options);
    case CliOptions::Command::stats:
        return CliCommands::stats(options);
    case CliOptions::Command::checkUpdate:
        return checkUpdateCommand(options.feed.value_or(QString()));
    case CliOptions::Command::help:
        QTextStream(stdout) << (options.helpFor ? commandUsage(*options.helpFor) : cliUsage());
        return 0;
    case CliOptions::Command::version:
        QTextStream(stdout) << "pikora-cli " << PIKORA_VERSION << " (build " << PIKORA_BUILD_NUMBER << ")\n";
        return 0;
    }
    return 2;
}
