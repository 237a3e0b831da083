#include "updatemanager.h"

#include "downloadprogressbridge.h"
#include "platform/desktopopener.h"
#include "platform/filemanager.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>
#include <QTimer>

namespace {

bool isWebPage(const std::optional<QUrl> &url)
{
    return url && url->isValid() && (url->scheme() == QLatin1String("https") || url->scheme() == QLatin1String("http"));
}

} // namespace

UpdateManager::UpdateManager(QObject *parent)
    : UpdateManager(UpdateEndpoints::builtIn(), defaultCheckTimeout, parent)
{
}

UpdateManager::UpdateManager(const UpdateEndpoints &endpoints, std::chrono::milliseconds checkTimeout, QObject *parent)
    : QObject(parent)
    , m_endpoints(endpoints)
    , m_checkTimeout(checkTimeout)
    , m_network(new QNetworkAccessManager(this))
    , m_opener(&DesktopOpener::openWithDefaultApplication)
    , m_revealer([](const QUrl &file) { FileManager::showItems({file}); })
{
    m_network->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

UpdateManager::~UpdateManager() = default;

QString UpdateManager::currentAppVersion()
{
    return QStringLiteral(PIKORA_VERSION);
}

QString UpdateManager::currentBuildNumber()
{
    return QStringLiteral(PIKORA_BUILD_NUMBER);
}

const UpdateStatus &UpdateManager::status() const
{
    return m_status;
}

const std::optional<AppUpdateInfo> &UpdateManager::currentUpdateInfo() const
{
    return m_currentUpdateInfo;
}

QDateTime UpdateManager::lastCheckedDate() const
{
    return m_lastCheckedDate;
}

bool UpdateManager::isManualChecking() const
{
    return m_isManualChecking;
}

void UpdateManager::setOpener(Opener opener)
{
    m_opener = std::move(opener);
}

void UpdateManager::setRevealer(Revealer revealer)
{
    m_revealer = std::move(revealer);
}

bool UpdateManager::canCheckForUpdates() const
{
    return m_status.kind != UpdateStatus::Kind::checking && m_status.kind != UpdateStatus::Kind::downloading
        && !m_isManualChecking;
}

void UpdateManager::checkForUpdates(const QString &customFeedURL, bool userInitiated)
{
    if (!canCheckForUpdates())
        return;
    setManualChecking(userInitiated);
    setStatus(UpdateStatus::checking());
    // Deferred so the caller sees checking first, whatever happens next.
    QTimer::singleShot(0, this, [this, customFeedURL, userInitiated] { runCheck(customFeedURL, userInitiated); });
}

void UpdateManager::runCheck(const QString &customFeedURL, bool userInitiated)
{
    const QString trimmed = customFeedURL.trimmed();
    if (trimmed.isEmpty()) {
        tryBuiltInFeed(0, userInitiated);
        return;
    }
    const std::optional<QUrl> url = UpdateFeed::makeURL(trimmed);
    if (!url) {
        finishCheck({std::nullopt, QCoreApplication::translate("UpdateManager", "无效的更新源地址：%1").arg(customFeedURL)}, userInitiated);
        return;
    }
    fetchReleaseInfo(*url, [this, userInitiated](const UpdateFeed::Result &result) { finishCheck(result, userInitiated); });
}

void UpdateManager::tryBuiltInFeed(qsizetype index, bool userInitiated)
{
    if (index >= m_endpoints.builtInFeeds.size()) {
        finishCheck({std::nullopt, QCoreApplication::translate("UpdateManager", "没有可用的更新源")}, userInitiated);
        return;
    }
    // Only the last feed's error is reported; earlier ones just pass the turn on.
    fetchReleaseInfo(m_endpoints.builtInFeeds.at(index), [this, index, userInitiated](const UpdateFeed::Result &result) {
        if (!result.release && index + 1 < m_endpoints.builtInFeeds.size())
            tryBuiltInFeed(index + 1, userInitiated);
        else
            finishCheck(result, userInitiated);
    });
}

void UpdateManager::fetchReleaseInfo(const QUrl &url, FeedCallback done)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(m_checkTimeout.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader, QString(QStringLiteral("Pikora/") + currentAppVersion() + QStringLiteral(" (Linux)")));
    request.setRawHeader("Accept", "application/json");

    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply, done = std::move(done)] {
        reply->deleteLater();
        const QString error = UpdateFeed::replyError(*reply);
        if (!error.isEmpty())
            done({std::nullopt, error});
        else if (!reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid())
            done({std::nullopt, QCoreApplication::translate("UpdateManager", "服务器返回了无效的响应")});
        else
            done(UpdateFeed::parseReleaseData(reply->readAll(), m_endpoints.releaseProjectPage));
    });
}

void UpdateManager::finishCheck(const UpdateFeed::Result &result, bool userInitiated)
{
    setManualChecking(false);
    if (!result.release) {
        setStatus(userInitiated ? UpdateStatus::failed(result.error) : UpdateStatus::idle());
        return;
    }
    setLastCheckedDate(QDateTime::currentDateTime());
    const AppUpdateInfo &release = *result.release;
    if (UpdateFeed::isRemoteVersionNewer(release.version, currentAppVersion())) {
        setCurrentUpdateInfo(release);
        setStatus(UpdateStatus::available(release));
        emit updateFound();
    } else {
        setCurrentUpdateInfo(std::nullopt);
        setStatus(UpdateStatus::upToDate(currentAppVersion()));
    }
}

void UpdateManager::startDownload(const AppUpdateInfo &updateInfo)
{
    if (!updateInfo.downloadURL) {
        openInBrowser(updateInfo.htmlURL);
        return;
    }
    cancelDownload();
    // An update is code the user will run: never fetch it over a connection others can rewrite.
    const QString refusal = UpdateFeed::downloadRefusal(*updateInfo.downloadURL);
    if (!refusal.isEmpty()) {
        setStatus(UpdateStatus::failed(QCoreApplication::translate("UpdateManager", "下载更新包失败：%1").arg(refusal)));
        return;
    }
    setStatus(UpdateStatus::downloading(0.0, 0, 0));

    auto *bridge = new DownloadProgressBridge(*m_network, *updateInfo.downloadURL, this);
    m_downloadBridge = bridge;
    connect(bridge, &DownloadProgressBridge::progress, this, [this](double fraction, qint64 received, qint64 expected) {
        setStatus(UpdateStatus::downloading(fraction, received, expected));
    });
    connect(bridge, &DownloadProgressBridge::completed, this, [this, updateInfo](const QString &privateCopy) {
        handleDownloadComplete(privateCopy, updateInfo);
    });
    connect(bridge, &DownloadProgressBridge::failed, this, [this](const QString &description) {
        setStatus(UpdateStatus::failed(QCoreApplication::translate("UpdateManager", "下载更新包失败：%1").arg(description)));
    });
    bridge->start();
}

void UpdateManager::cancelDownload()
{
    if (m_downloadBridge) {
        m_downloadBridge->disconnect(this);
        m_downloadBridge->cancel();
        m_downloadBridge->deleteLater();
        m_downloadBridge = nullptr;
    }
    if (m_status.kind == UpdateStatus::Kind::downloading)
        setStatus(m_currentUpdateInfo ? UpdateStatus::available(*m_currentUpdateInfo) : UpdateStatus::idle());
}

void UpdateManager::handleDownloadComplete(const QString &privateCopy, const AppUpdateInfo &updateInfo)
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation);
    const QString folder = folders.isEmpty() ? QDir::tempPath() : folders.first();
    QDir().mkpath(folder);
    const QString target =
        QDir(folder).filePath(UpdateFeed::installerFileName(updateInfo.version, updateInfo.downloadURL.value_or(QUrl())));

    const auto fail = [this](const QString &description) {
        setStatus(UpdateStatus::failed(QCoreApplication::translate("UpdateManager", "保存安装包至下载文件夹失败：%1").arg(description)));
    };
    const QFileInfo existing(target);
    if (existing.isDir() && !existing.isSymLink()) {
        // A folder may hold anything of the user's; only a file of that name is replaced.
        fail(QCoreApplication::translate("UpdateManager", "已有同名文件夹：%1").arg(target));
        return;
    }
    if (existing.exists() || existing.isSymLink()) {
        QFile old(target);
        if (!old.remove()) {
            fail(old.errorString());
            return;
        }
    }
    QFile copy(privateCopy);
    if (!copy.rename(target)) {
        fail(copy.errorString());
        return;
    }
    const QUrl fileURL = QUrl::fromLocalFile(target);
    setStatus(UpdateStatus::readyToInstall(fileURL, updateInfo));
    showDownloadedFile(fileURL);
}

void UpdateManager::openInBrowser(const std::optional<QUrl> &url)
{
    const QUrl website(m_endpoints.productWebsite, QUrl::StrictMode);
    if (m_endpoints.productWebsite.isEmpty() || !website.isValid())
        return;
    // Pages come from the feed: anything but a web address (a local file, say) is not opened.
    QUrl page = website;
    if (isWebPage(url))
        page = *url;
    else if (m_currentUpdateInfo && isWebPage(m_currentUpdateInfo->htmlURL))
        page = *m_currentUpdateInfo->htmlURL;
    open(page);
}

void UpdateManager::openProductWebsite()
{
    const QUrl website(m_endpoints.productWebsite, QUrl::StrictMode);
    if (isWebPage(website))
        open(website);
}

void UpdateManager::showDownloadedFile(const QUrl &url)
{
    if (url.isLocalFile() && m_revealer)
        m_revealer(url);
}

void UpdateManager::open(const QUrl &url)
{
    // Opening reports nothing on failure: the file or page is there for the user either way.
    if (m_opener)
        m_opener(url);
}

void UpdateManager::setStatus(const UpdateStatus &status)
{
    if (m_status == status)
        return;
    m_status = status;
    emit statusChanged();
}

void UpdateManager::setCurrentUpdateInfo(const std::optional<AppUpdateInfo> &info)
{
    if (m_currentUpdateInfo == info)
        return;
    m_currentUpdateInfo = info;
    emit currentUpdateInfoChanged();
}

void UpdateManager::setLastCheckedDate(const QDateTime &date)
{
    m_lastCheckedDate = date;
    emit lastCheckedDateChanged();
}

void UpdateManager::setManualChecking(bool checking)
{
    if (m_isManualChecking == checking)
        return;
    m_isManualChecking = checking;
    emit manualCheckingChanged();
}
