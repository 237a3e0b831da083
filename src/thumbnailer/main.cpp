#include "platform/uilanguage.h"
#include "thumbnailer/jxlthumbnail.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

// pikora-thumbnailer -s SIZE INPUT OUTPUT, as the desktop's thumbnailer entry calls it.
// Exit status: 0 written, 1 no thumbnail (OUTPUT as it was, or empty if writing it failed), 2 bad usage.
int main(int argc, char *argv[])
{
    JxlThumbnail::limitResources();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("pikora-thumbnailer"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIKORA_VERSION));
    UiLanguage::install(&app);

    QCommandLineParser parser;
    parser.setApplicationDescription(QCoreApplication::translate(
        "main", "为 JPEG XL 照片生成 PNG 缩略图：方向已摆正，最长边不超过 SIZE 像素。"));
    const QCommandLineOption sizeOption(
        {QStringLiteral("s"), QStringLiteral("size")},
        QCoreApplication::translate("main", "缩略图最长边的像素数（1 到 4096）。"),
        QStringLiteral("SIZE"));
    parser.addOption(sizeOption);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("INPUT"),
                                 QCoreApplication::translate("main", "JPEG XL 文件：路径或 file:// URI。"));
    parser.addPositionalArgument(QStringLiteral("OUTPUT"),
                                 QCoreApplication::translate("main", "PNG 的写入位置。"));

    // The parser's first line names the program by the path it was started with.
    QString help = parser.helpText();
    help.replace(0, help.indexOf(u'\n'),
                 QCoreApplication::translate("main", "用法：pikora-thumbnailer -s SIZE INPUT OUTPUT"));

    QTextStream err(stderr);
    const auto usage = [&](const QString &why) {
        err << "pikora-thumbnailer: " << why << '\n' << help;
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(helpOption)) {
        QTextStream(stdout) << help;
        return 0;
    }
    if (parser.isSet(versionOption))
        parser.showVersion();
    bool sizeOk = false;
    const int size = parser.value(sizeOption).toInt(&sizeOk);
    if (!parser.isSet(sizeOption) || !sizeOk || size < 1 || size > 4096)
        return usage(QCoreApplication::translate("main", "-s SIZE 必须是 1 到 4096 之间的数字"));
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        return usage(QCoreApplication::translate("main", "需要 INPUT 和 OUTPUT 两个参数"));

    const QString input = JxlThumbnail::inputPath(arguments.at(0));
    if (input.isEmpty()) {
        err << "pikora-thumbnailer: " << QCoreApplication::translate("main", "不是本地文件：%1").arg(arguments.at(0))
            << '\n';
        return 1;
    }
    QString reason;
    const QImage thumbnail = JxlThumbnail::make(input, size, &reason);
    JxlThumbnail::liftCpuLimit();
    if (thumbnail.isNull() || !JxlThumbnail::writePng(thumbnail, arguments.at(1), &reason)) {
        err << "pikora-thumbnailer: " << input << ": " << reason << '\n';
        return 1;
    }
    return 0;
}
