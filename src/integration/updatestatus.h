#pragma once

#include "appupdateinfo.h"

#include <QString>
#include <QUrl>

// What the update check and the download show. Only the fields of the current kind carry
// meaning; the factories leave the others at their defaults, so == compares kind and payload.
struct UpdateStatus
{
    enum class Kind { idle, checking, upToDate, available, downloading, readyToInstall, failed };

    Kind kind = Kind::idle;
    QString version;          // upToDate: the running version
    AppUpdateInfo updateInfo; // available, readyToInstall
    double progress = 0.0;    // downloading, 0.0 to 1.0
    qint64 receivedBytes = 0; // downloading
    qint64 totalBytes = 0;    // downloading; negative while the size is unknown
    QUrl fileURL;             // readyToInstall
    QString message;          // failed

    static UpdateStatus idle();
    static UpdateStatus checking();
    static UpdateStatus upToDate(const QString &version);
    static UpdateStatus available(const AppUpdateInfo &info);
    static UpdateStatus downloading(double progress, qint64 receivedBytes, qint64 totalBytes);
    static UpdateStatus readyToInstall(const QUrl &fileURL, const AppUpdateInfo &info);
    static UpdateStatus failed(const QString &message);

    bool operator==(const UpdateStatus &other) const = default;
};
