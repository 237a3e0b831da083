#pragma once

#include "appupdateinfo.h"
#include "updateendpoints.h"
#include "updatefeed.h"
#include "updatestatus.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <optional>

class DownloadProgressBridge;
class QNetworkAccessManager;

// Looks for a newer release, downloads its Linux package into the Downloads folder and shows it
// in the file manager (never opens or installs it). Lives on the GUI thread; every state change
// is announced by its own signal.
class UpdateManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateManager)

public:
    // Opens a file or page with the desktop's default application; tests put a recorder here.
    using Opener = std::function<bool(const QUrl &)>;
    // Shows a file in the file manager; tests put a recorder here.
    using Revealer = std::function<void(const QUrl &)>;

    static constexpr std::chrono::milliseconds defaultCheckTimeout{15'000};

    // The built-in endpoints of this build.
    explicit UpdateManager(QObject *parent = nullptr);
    UpdateManager(const UpdateEndpoints &endpoints, std::chrono::milliseconds checkTimeout,
                  QObject *parent = nullptr);
    ~UpdateManager() override;

    static QString currentAppVersion();
    static QString currentBuildNumber();

    const UpdateStatus &status() const;
    const std::optional<AppUpdateInfo> &currentUpdateInfo() const;
    // Time of the last successful check; null before the first.
    QDateTime lastCheckedDate() const;
    bool isManualChecking() const;

    void setOpener(Opener opener);
    void setRevealer(Revealer revealer);

    // Returns at once; the outcome arrives through the signals. A non-blank customFeedURL is the
    // only feed asked. A silent check (userInitiated false) never shows an error. Does nothing
    // while a check or a download runs: its outcome would overwrite the download's state.
    void checkForUpdates(const QString &customFeedURL, bool userInitiated);
    // Whether checkForUpdates would start a check now; check buttons follow it (statusChanged,
    // manualCheckingChanged).
    bool canCheckForUpdates() const;

    // Downloads the release's package, or opens its web page when it has no download address.
    void startDownload(const AppUpdateInfo &updateInfo);
    void cancelDownload();
    // Opens url, else the page of the release found last, else the product web site.
    void openInBrowser(const std::optional<QUrl> &url = std::nullopt);
    void openProductWebsite();
    // Shows the saved package in the file manager.
    void showDownloadedFile(const QUrl &url);

signals:
    void statusChanged();
    // A check found a release newer than this one (the window then offers it).
    void updateFound();
    void currentUpdateInfoChanged();
    void lastCheckedDateChanged();
    void manualCheckingChanged();

private:
    using FeedCallback = std::function<void(const UpdateFeed::Result &)>;

    void runCheck(const QString &customFeedURL, bool userInitiated);
    void tryBuiltInFeed(qsizetype index, bool userInitiated);
    void fetchReleaseInfo(const QUrl &url, FeedCallback done);
    void finishCheck(const UpdateFeed::Result &result, bool userInitiated);
    void handleDownloadComplete(const QString &privateCopy, const AppUpdateInfo &updateInfo);
    void open(const QUrl &url);

    void setStatus(const UpdateStatus &status);
    void setCurrentUpdateInfo(const std::optional<AppUpdateInfo> &info);
    void setLastCheckedDate(const QDateTime &date);
    void setManualChecking(bool checking);

    UpdateEndpoints m_endpoints;
    std::chrono::milliseconds m_checkTimeout;
    QNetworkAccessManager *m_network;
    Opener m_opener;
    Revealer m_revealer;
    QPointer<DownloadProgressBridge> m_downloadBridge;

    UpdateStatus m_status;
    std::optional<AppUpdateInfo> m_currentUpdateInfo;
    QDateTime m_lastCheckedDate;
    bool m_isManualChecking = false;
};
