#pragma once

#include "model/taskitem.h"

#include <QObject>
#include <QString>

#include <functional>

// "Pikora · 照片瘦身完成" or "Pikora · 照片还原完成".
QString completionNotificationTitle(ConversionMode mode);
// The count of completed jobs, the savings (compression only, when positive) and the
// failures (when any), e.g. "已完成 3 张照片无损压缩，累计节省 1.2 MB（1 个项目失败）".
QString completionNotificationBody(ConversionMode mode, int processedCount, qint64 savedBytes, int failedCount);

// Posts the end-of-batch notification through the desktop's notification server
// (org.freedesktop.Notifications). Asynchronous; errors become one line on standard output.
class NotificationManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotificationManager)

public:
    explicit NotificationManager(QObject *parent = nullptr);

    // Whether the application is the active one; nothing is posted while it is. The core
    // library knows no windows, so the window installs this; until then it counts as inactive.
    void setApplicationActiveProvider(std::function<bool()> provider);

    // Asks the server what it can do, so that a missing or broken one shows in the log at
    // start-up; notifications need no permission here.
    void checkServer();
    void sendCompletionNotification(ConversionMode mode, int processedCount, qint64 savedBytes, int failedCount);

private:
    std::function<bool()> m_applicationActive;
};
