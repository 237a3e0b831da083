#include "updatestatus.h"

UpdateStatus UpdateStatus::idle()
{
    return {};
}

UpdateStatus UpdateStatus::checking()
{
    UpdateStatus status;
    status.kind = Kind::checking;
    return status;
}

UpdateStatus UpdateStatus::upToDate(const QString &version)
{
    UpdateStatus status;
    status.kind = Kind::upToDate;
    status.version = version;
    return status;
}

UpdateStatus UpdateStatus::available(const AppUpdateInfo &info)
{
    UpdateStatus status;
    status.kind = Kind::available;
    status.updateInfo = info;
    return status;
}

UpdateStatus UpdateStatus::downloading(double progress, qint64 receivedBytes, qint64 totalBytes)
{
    UpdateStatus status;
    status.kind = Kind::downloading;
    status.progress = progress;
    status.receivedBytes = receivedBytes;
    status.totalBytes = totalBytes;
    return status;
}

UpdateStatus UpdateStatus::readyToInstall(const QUrl &fileURL, const AppUpdateInfo &info)
{
    UpdateStatus status;
    status.kind = Kind::readyToInstall;
    status.fileURL = fileURL;
    status.updateInfo = info;
    return status;
}

UpdateStatus UpdateStatus::failed(const QString &message)
{
    UpdateStatus status;
    status.kind = Kind::failed;
    status.message = message;
    return status;
}
