#include "ui/commandlinehelp.h"

#include "platform/uilanguage.h"
#include "version.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstring>

namespace CommandLineHelp {

std::optional<int> answer(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--version") == 0) {
            QTextStream(stdout) << "pikora " << PIKORA_VERSION << " (build " << PIKORA_BUILD_NUMBER << ")\n";
            return 0;
        }
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            // A core application, not the window's: the help speaks the desktop's language
            // without touching the window system.
            QCoreApplication app(argc, argv);
            UiLanguage::install(&app);
            QTextStream(stdout) << QCoreApplication::translate(
                "CommandLineHelp",
                "用法：pikora [--compress | --restore] [路径 | URL]...\n"
                "打开 Pikora 窗口，把在给定文件和文件夹中找到的照片加入列表；\n"
                "若窗口已经打开，则交给该窗口。在窗口中开始批量处理之前，\n"
                "不会转换任何文件。\n"
                "\n"
                "选项：\n"
                "  --compress     切换到压缩列表（JPEG 转 JPEG XL），加入找到的 JPEG 文件\n"
                "  --restore      切换到还原列表（JPEG XL 转 JPEG），加入找到的 JPEG XL 文件\n"
                "  -h, --help     显示此帮助并退出\n"
                "  --version      显示版本并退出\n"
                "\n"
                "路径为文件或文件夹。URL 为 file:// URL 或 pikora://import?path=文件。\n"
                "同样接受 Qt 工具包的选项（例如 -platform）。\n");
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace CommandLineHelp
