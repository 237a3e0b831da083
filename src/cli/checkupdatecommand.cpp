#include "checkupdatecommand.h"

#include "integration/updatemanager.h"

#include <QEventLoop>
#include <QTextStream>

#include <cstdio>

namespace {

int usage(QTextStream &err)
{
    err << "用法：pikora-cli check-update [--feed URL]\n";
    return 2;
}

} // namespace

int checkUpdateCommand(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);

    QString feed;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--feed") && i + 1 < arguments.size())
            feed = arguments.at(++i);
        else
            return usage(err);
    }

    UpdateManager manager;
    QEventLoop loop;
    QObject::connect(&manager, &UpdateManager::statusChanged, &loop, [&] {
        if (manager.status().kind != UpdateStatus::Kind::checking)
            loop.quit();
    });
    // A manual check: a silent one would swallow the error this command exists to show.
    manager.checkForUpdates(feed, true);
    if (manager.status().kind == UpdateStatus::Kind::checking)
        loop.exec();

    const UpdateStatus &status = manager.status();
    switch (status.kind) {
    case UpdateStatus::Kind::available: {
        const AppUpdateInfo &info = status.updateInfo;
        out << "发现新版本 v" << info.version << "（当前版本 v" << UpdateManager::currentAppVersion() << "）\n";
        out << "下载地址：" << (info.downloadURL ? info.downloadURL->toString() : QStringLiteral("无")) << '\n';
        if (info.htmlURL)
            out << "发布页面：" << info.htmlURL->toString() << '\n';
        return 0;
    }
    case UpdateStatus::Kind::upToDate:
        out << "当前已是最新版本 (v" << status.version << ")\n";
        return 0;
    default:
        err << "检查更新失败：" << status.message << '\n';
        return 1;
    }
}
