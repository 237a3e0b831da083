#include "clioptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(CliOptions)
};

std::optional<int> parseInt(const QString &text, int minimum, int maximum)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

// The option lines of a usage, each its own text so that the overview and every command's
// usage say the same.
QString convertingOptionLines()
{
    return Texts::tr("  -e, --effort N               编码强度 1-9（默认为已保存的设置）\n")
        + Texts::tr("  -o, --originals keep|trash|delete\n"
                    "                               成功后如何处理每个原文件\n")
        + Texts::tr("  --verify                     校验每次转换，保留原文件时也校验\n")
        + Texts::tr("  --cjxl PATH, --djxl PATH     使用指定的工具\n")
        + Texts::tr("  -j, --jobs N                 同时处理的任务数（默认为已保存的并发设置）\n")
        + Texts::tr("  --json                       每完成一个任务输出一个 JSON 对象\n")
        + Texts::tr("  -q, --quiet                  只输出失败的任务\n")
        + Texts::tr("  --output-dir DIR             把输出写到 DIR 下，保留原有的文件夹结构\n");
}

QString listingOptionLines()
{
    return Texts::tr("  --files-from FILE            同时处理 FILE 中列出的路径（- 表示标准输入），\n"
                     "                               每行一个\n")
        + Texts::tr("  -0, --null                   --files-from 的列表以 NUL 字节分隔\n")
        + Texts::tr("  --shard K/N                  只处理 N 份中的第 K 份照片（0 <= K < N），\n"
                    "                               按照片在其所在文件夹中的相对路径划分\n");
}

// What check takes beside the options it shares with restore.
QString checkOnlyOptionLines()
{
    return Texts::tr("  --older-than DAYS            跳过 DAYS 天内检查完好且之后未修改的文件\n")
        + Texts::tr("  --strict                     未证实或不可还原的文件也算失败\n");
}

QString watchOnlyOptionLines()
{
    return Texts::tr("  --settle SECONDS             照片写完后静置多少秒再转换\n"
                     "                               （默认 10，可为小数）\n")
        + Texts::tr("  --saved                      也监视设置中“自动转换”的文件夹；未给 -o 时\n"
                    "                               按那里选择的方式处理原文件；尚不存在的文件夹\n"
                    "                               等它出现后再监视\n");
}

QString exitStatusText()
{
    return Texts::tr("退出状态：0 所有任务均已完成或已跳过；1 有任务失败、路径不存在或无法读取，\n"
                     "或原文件无法移至回收站或删除；2 用法错误、缺少工具或磁盘空间不足；\n"
                     "130 已中断。\n");
}

} // namespace

QString cliUsage()
{
    return Texts::tr("用法：pikora-cli 命令 [选项] ...\n"
                     "\n"
                     "命令：\n"
                     "  compress [选项] 路径...      把在文件和文件夹中找到的 JPEG 文件转换为 JPEG XL\n"
                     "  restore [选项] 路径...       从 JPEG XL 文件还原出原始 JPEG 文件\n"
                     "  watch [选项] 文件夹...       监视文件夹，转换新加入或改动的 JPEG 文件\n"
                     "  verify JPEG JXL              检查 JXL 能否逐字节还原出 JPEG\n"
                     "  check [选项] 路径...         检查 JPEG XL 文件能否还原出记录的原 JPEG\n"
                     "  scan [选项] 路径...          列出导入时会找到的文件，不做转换\n"
                     "  stats [--json]               显示累计节省的空间\n"
                     "  check-update [--feed URL]    检查是否有新版本\n"
                     "\n"
                     "pikora-cli 命令 --help 显示该命令的用法。\n")
        + u'\n' + Texts::tr("compress、restore 和 watch 的选项：\n") + convertingOptionLines()
        + u'\n' + Texts::tr("watch 的选项：\n") + watchOnlyOptionLines()
        + u'\n' + Texts::tr("check 的选项（另有 --djxl、-j、--json、-q，用法同上）：\n") + checkOnlyOptionLines()
        + u'\n' + Texts::tr("compress、restore、check 和 scan 的选项：\n") + listingOptionLines()
        + u'\n' + exitStatusText();
}

QString commandUsage(CliOptions::Command command)
{
    using Command = CliOptions::Command;
    const QString options = u'\n' + Texts::tr("选项：\n");
    const QString help = Texts::tr("  -h, --help                   显示此命令的用法\n");
    switch (command) {
    case Command::compress:
        return Texts::tr("用法：pikora-cli compress [选项] 路径...\n"
                         "把在文件和文件夹中找到的 JPEG 文件转换为 JPEG XL。\n")
            + options + convertingOptionLines() + listingOptionLines() + help + u'\n' + exitStatusText();
    case Command::restore:
        return Texts::tr("用法：pikora-cli restore [选项] 路径...\n"
                         "从 JPEG XL 文件还原出原始 JPEG 文件。\n")
            + options + convertingOptionLines() + listingOptionLines() + help + u'\n' + exitStatusText();
    case Command::watch:
        return Texts::tr("用法：pikora-cli watch [选项] 文件夹...\n"
                         "先转换文件夹中尚未转换的 JPEG 文件，然后监视这些文件夹及其下的所有文件夹，\n"
                         "把新加入或改动的 JPEG 文件在写完并静置一段时间后转换为 JPEG XL。\n"
                         "隐藏文件和临时文件（~、.tmp、.part、.crdownload、.partial 结尾）不予处理；\n"
                         "转换失败的照片在改动之前不会重试。按 Ctrl-C 或发送 SIGTERM 结束。\n")
            + options + convertingOptionLines() + watchOnlyOptionLines() + help + u'\n'
            + Texts::tr("退出状态：2 用法错误、缺少工具、文件夹不存在或磁盘空间不足；\n"
                        "130 被 Ctrl-C 或 SIGTERM 结束（运行中的任务停止，每个任务保持原样）。\n");
    case Command::verify:
        return Texts::tr("用法：pikora-cli verify [选项] JPEG JXL\n"
                         "检查 JXL 能否逐字节还原出 JPEG：是则退出状态为 0，否则为 1。\n")
            + options + Texts::tr("  --djxl PATH                  使用指定的 djxl\n") + help;
    case Command::check:
        return Texts::tr("用法：pikora-cli check [选项] 路径...\n"
                         "检查 JPEG XL 文件能否还原出压缩时记录的原 JPEG。不在文件旁写入任何文件，\n"
                         "只在检查完好时把时间记入文件的扩展属性 user.pikora.checked。\n"
                         "每个文件的结果：ok（还原结果与记录的校验值一致）、damaged（已损坏）、\n"
                         "unproven（能还原，但没有记录校验值）、not-restorable（只含像素）。\n")
            + options + checkOnlyOptionLines() + Texts::tr("  --djxl PATH                  使用指定的 djxl\n")
            + Texts::tr("  -j, --jobs N                 同时处理的任务数（默认为已保存的并发设置）\n")
            + Texts::tr("  --json                       每完成一个任务输出一个 JSON 对象\n")
            + Texts::tr("  -q, --quiet                  只输出失败的任务\n") + listingOptionLines() + help + u'\n'
            + Texts::tr("退出状态：0 所有文件均完好（或未证实，除非使用 --strict）；1 有文件已损坏、\n"
                        "路径不存在或无法检查，使用 --strict 时还包括未证实和不可还原的文件；\n"
                        "2 用法错误或缺少 djxl；130 已中断。\n");
    case Command::scan:
        return Texts::tr("用法：pikora-cli scan [选项] 路径...\n"
                         "列出导入时会找到的文件，不做转换。\n")
            + options + Texts::tr("  --json                       输出一个 JSON 对象\n") + listingOptionLines() + help;
    case Command::stats:
        return Texts::tr("用法：pikora-cli stats [选项]\n"
                         "显示历次转换累计节省的空间。\n")
            + options + Texts::tr("  --json                       输出一个 JSON 对象\n") + help;
    case Command::checkUpdate:
        return Texts::tr("用法：pikora-cli check-update [选项]\n"
                         "检查是否有新版本。\n"
                         "找到新版本或已是最新版本时退出状态为 0，检查失败时为 1。\n")
            + options + Texts::tr("  --feed URL                   只向 URL 询问，不问默认的发布源\n") + help;
    case Command::help:
    case Command::version:
        break;
    }
    return cliUsage();
}

CliParse parseCliArguments(const QStringList &arguments)
{
    CliParse parse;
    CliOptions options;
    const QString word = arguments.value(1);
    static const QList<std::pair<QString, CliOptions::Command>> commands{
        {QStringLiteral("compress"), CliOptions::Command::compress},
        {QStringLiteral("restore"), CliOptions::Command::restore},
        {QStringLiteral("watch"), CliOptions::Command::watch},
        {QStringLiteral("verify"), CliOptions::Command::verify},
        {QStringLiteral("check"), CliOptions::Command::check},
        {QStringLiteral("scan"), CliOptions::Command::scan},
        {QStringLiteral("stats"), CliOptions::Command::stats},
        {QStringLiteral("check-update"), CliOptions::Command::checkUpdate},
        {QStringLiteral("help"), CliOptions::Command::help},
        {QStringLiteral("--help"), CliOptions::Command::help},
        {QStringLiteral("-h"), CliOptions::Command::help},
        {QStringLiteral("--version"), CliOptions::Command::version},
    };
    const auto commandNamed = [](const QString &name) -> std::optional<CliOptions::Command> {
        for (const auto &[known, command] : commands) {
            if (name == known)
                return command;
        }
        return std::nullopt;
    };
    const std::optional<CliOptions::Command> named = commandNamed(word);
    if (!named) {
        parse.error = word.isEmpty() ? Texts::tr("未指定命令")
                                     : Texts::tr("未知命令“%1”").arg(word);
        return parse;
    }
    options.command = *named;
    if (options.command == CliOptions::Command::version) {
        parse.options = options;
        return parse;
    }
    if (options.command == CliOptions::Command::help) {
        // "help compress" as "compress --help"; "help" alone for the overview.
        if (arguments.size() > 2) {
            options.helpFor = commandNamed(arguments.at(2));
            if (!options.helpFor || arguments.size() > 3) {
                parse.error = Texts::tr("未知命令“%1”").arg(arguments.mid(2).join(u' '));
                return parse;
            }
        }
        parse.options = options;
        return parse;
    }
    parse.usageOf = options.command;

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
    const QCommandLineOption feed(QStringLiteral("feed"), {}, QStringLiteral("URL"));
    const QCommandLineOption olderThan(QStringLiteral("older-than"), {}, QStringLiteral("DAYS"));
    const QCommandLineOption strict(QStringList{QStringLiteral("strict")});
    const QCommandLineOption settle(QStringLiteral("settle"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const bool watching = options.command == CliOptions::Command::watch;
    const bool converting = options.command == CliOptions::Command::compress
        || options.command == CliOptions::Command::restore || watching;
    const bool checking = options.command == CliOptions::Command::check;
    // Options that run jobs, shared by the conversions and the check.
    const bool running = converting || checking;
    const bool listing = (running && !watching) || options.command == CliOptions::Command::scan;
    if (converting)
        parser.addOptions({effort, originals, verify, cjxl, djxl, jobs, json, quiet, outputDir});
    else if (checking)
        parser.addOptions({olderThan, strict, djxl, jobs, json, quiet});
    else if (options.command == CliOptions::Command::verify)
        parser.addOption(djxl);
    else if (options.command == CliOptions::Command::checkUpdate)
        parser.addOption(feed);
    else
        parser.addOption(json);
    if (listing)
        parser.addOptions({filesFrom, nul, shard});
    const QCommandLineOption saved(QStringList{QStringLiteral("saved")});
    if (watching)
        parser.addOptions({settle, saved});
    parser.addOption(help);

    QStringList toParse = arguments;
    toParse.removeAt(1);
    const bool parsed = parser.parse(toParse);
    // Asked for help, the user gets it, whatever else the line holds.
    if (parser.isSet(help)) {
        options.helpFor = options.command;
        options.command = CliOptions::Command::help;
        parse.options = options;
        parse.usageOf.reset();
        return parse;
    }
    if (!parsed) {
        parse.error = parser.errorText();
        return parse;
    }
    options.paths = parser.positionalArguments();
    if (converting) {
        if (parser.isSet(effort)) {
            options.effort = parseInt(parser.value(effort), 1, 9);
            if (!options.effort) {
                parse.error = Texts::tr("--effort 需要 1 到 9 之间的整数");
                return parse;
            }
        }
        if (parser.isSet(originals)) {
            options.originals = deleteStrategyFromRawValue(parser.value(originals));
            if (!options.originals) {
                parse.error = Texts::tr("--originals 只接受 keep、trash 或 delete");
                return parse;
            }
        }
        if (parser.isSet(cjxl))
            options.cjxl = parser.value(cjxl);
        options.verify = parser.isSet(verify);
    }
    if (running) {
        if (parser.isSet(jobs)) {
            options.jobs = parseInt(parser.value(jobs), 1, 1024);
            if (!options.jobs) {
                parse.error = Texts::tr("--jobs 需要 1 到 1024 之间的整数");
                return parse;
            }
        }
        options.quiet = parser.isSet(quiet);
    }
    if (checking) {
        if (parser.isSet(olderThan)) {
            options.olderThanDays = parseInt(parser.value(olderThan), 0, 36500);
            if (!options.olderThanDays) {
                parse.error = Texts::tr("--older-than 需要 0 到 36500 之间的整数（天数）");
                return parse;
            }
        }
        options.strict = parser.isSet(strict);
    }
    if (running || options.command == CliOptions::Command::verify) {
        if (parser.isSet(djxl))
            options.djxl = parser.value(djxl);
    }
    if (options.command != CliOptions::Command::verify && options.command != CliOptions::Command::checkUpdate)
        options.json = parser.isSet(json);
    if (options.command == CliOptions::Command::checkUpdate && parser.isSet(feed))
        options.feed = parser.value(feed);
    if (converting && parser.isSet(outputDir)) {
        options.outputDir = parser.value(outputDir);
        if (options.outputDir->isEmpty()) {
            parse.error = Texts::tr("--output-dir 需要一个文件夹");
            return parse;
        }
    }
    if (listing) {
        if (parser.isSet(filesFrom))
            options.filesFrom = parser.value(filesFrom);
        options.nulSeparated = parser.isSet(nul);
        if (options.nulSeparated && !options.filesFrom) {
            parse.error = Texts::tr("-0 只能与 --files-from 一起使用");
            return parse;
        }
        if (parser.isSet(shard)) {
            const QStringList parts = parser.value(shard).split(QLatin1Char('/'));
            const std::optional<int> count = parts.size() == 2 ? parseInt(parts.at(1), 1, 1000000) : std::nullopt;
            const std::optional<int> index = count ? parseInt(parts.at(0), 0, *count - 1) : std::nullopt;
            if (!index) {
                parse.error = Texts::tr("--shard 需要 K/N，且 0 <= K < N");
                return parse;
            }
            options.shard = std::pair{*index, *count};
        }
    }

    if (watching && parser.isSet(settle)) {
        bool ok = false;
        const double seconds = parser.value(settle).toDouble(&ok);
        if (!ok || !(seconds >= 0 && seconds <= 86400)) {
            parse.error = Texts::tr("--settle 需要 0 到 86400 之间的秒数");
            return parse;
        }
        options.settleMs = qint64(seconds * 1000 + 0.5);
    }
    options.saved = watching && parser.isSet(saved);
    if (watching && options.paths.isEmpty() && !options.saved) {
        parse.error = Texts::tr("请至少指定一个文件夹");
        return parse;
    }
    if (running && !watching && options.paths.isEmpty() && !options.filesFrom) {
        parse.error = Texts::tr("请至少指定一个文件或文件夹");
        return parse;
    }
    if (options.command == CliOptions::Command::scan && options.paths.isEmpty() && !options.filesFrom) {
        parse.error = Texts::tr("请至少指定一个文件或文件夹");
        return parse;
    }
    if (options.command == CliOptions::Command::verify && options.paths.size() != 2) {
        parse.error = Texts::tr("verify 需要一个 JPEG 文件和一个 JXL 文件");
        return parse;
    }
    if ((options.command == CliOptions::Command::stats || options.command == CliOptions::Command::checkUpdate)
        && !options.paths.isEmpty()) {
        parse.error = Texts::tr("%1 不接受路径").arg(word);
        return parse;
    }
    parse.options = options;
    return parse;
}
