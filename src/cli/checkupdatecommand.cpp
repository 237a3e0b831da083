#include "checkupdatecommand.h"

#include "integration/updatemanager.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTextStream>

#include <cstdio>

namespace {

struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(CheckUpdateCommand)
};

} // namespace

int checkUpdateCommand(const QString &feed)
{
    QTextStream out(stdout);
    QTextStream err(stderr);

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
        out << Texts::tr("发现新版本 v%1（当前版本 v%2）").arg(info.version, UpdateManager::currentAppVersion()) << '\n';
        out << Texts::tr("下载地址：%1").arg(info.downloadURL ? info.downloadURL->toString() : Texts::tr("无")) << '\n';
        if (info.htmlURL)
            out << Texts::tr("发布页面：%1").arg(info.htmlURL->toString()) << '\n';
        return 0;
    }
    case UpdateStatus::Kind::upToDate:
        out << Texts::tr("当前已是最新版本 (v%1)").arg(status.version) << '\n';
        return 0;
    default:
        err << Texts::tr("检查更新失败：%1").arg(status.message) << '\n';
        return 1;
    }
}
