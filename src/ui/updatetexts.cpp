#include "ui/updatetexts.h"

#include "integration/updatestatus.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace UpdateTexts {
namespace {

struct Texts
{
    Q_DECLARE_TR_FUNCTIONS(UpdateTexts)
};

} // namespace

int wholePercent(double progress)
{
    if (!std::isfinite(progress))
        return 0;
    return static_cast<int>(std::clamp(std::trunc(progress * 100.0), 0.0, 100.0));
}

QString statusLine(const UpdateStatus &status, const QDateTime &lastChecked)
{
    using Kind = UpdateStatus::Kind;
    switch (status.kind) {
    case Kind::idle:
        if (lastChecked.isValid())
            return Texts::tr("上次检查时间：%1").arg(QLocale().toString(lastChecked, QLocale::ShortFormat));
        return Texts::tr("尚未检查更新");
    case Kind::checking:
        return Texts::tr("正在连接 GitLab 检查更新…");
    case Kind::upToDate:
        return Texts::tr("当前已是最新版本 (v%1)").arg(status.version);
    case Kind::available:
        return Texts::tr("发现新版本 v%1").arg(status.updateInfo.version);
    case Kind::downloading:
        return Texts::tr("下载中 %1%…").arg(wholePercent(status.progress));
    case Kind::readyToInstall:
        return downloadedTitle();
    case Kind::failed:
        return status.message;
    }
    return {};
}

QString downloadedTitle()
{
    return Texts::tr("安装包已下载到「下载」文件夹");
}

QString installHint(const QUrl &file)
{
    const QString name = file.fileName();
    if (name.endsWith(QLatin1String(".deb"), Qt::CaseInsensitive))
        return Texts::tr("用软件安装器打开它，或在它所在的文件夹中运行 sudo apt install ./%1 完成升级。").arg(name);
    if (name.endsWith(QLatin1String(".AppImage"), Qt::CaseInsensitive))
        return Texts::tr("为它加上执行权限（chmod +x %1）后直接运行新版，即可完成升级。").arg(name);
    return Texts::tr("按发布页面的说明安装 %1 即可完成升级。").arg(name);
}

} // namespace UpdateTexts
