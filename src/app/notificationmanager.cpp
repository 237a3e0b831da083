#include "notificationmanager.h"

#include "corelog.h"
#include "model/formattedbytes.h"
#include "version.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

namespace {

// Calls a method of the notification server and reports a failure as prefix + message.
void callServer(QObject *context, const QString &method, const QVariantList &arguments, const QString &errorPrefix)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context, [watcher, errorPrefix] {
        watcher->deleteLater();
        if (watcher->isError()) {
            qCWarning(lcCore).noquote() << errorPrefix + watcher->error().message();
        }
    });
}

} // namespace

QString completionNotificationTitle(ConversionMode mode)
{
    return mode == ConversionMode::jpegToJXL ? QStringLiteral("Pikora · 照片瘦身完成")
                                             : QStringLiteral("Pikora · 照片还原完成");
}

QString completionNotificationBody(ConversionMode mode, int processedCount, qint64 savedBytes, int failedCount)
{
    QString body;
    if (mode == ConversionMode::jpegToJXL) {
        body = QStringLiteral("已完成 ") + QString::number(processedCount) + QStringLiteral(" 张照片无损压缩");
        if (savedBytes >= 1)
            body += QStringLiteral("，累计节省 ") + formattedBytes(savedBytes);
    } else {
        body = QStringLiteral("已成功还原 ") + QString::number(processedCount) + QStringLiteral(" 张照片为原始 JPEG");
    }
    if (failedCount >= 1)
        body += QStringLiteral("（") + QString::number(failedCount) + QStringLiteral(" 个项目失败）");
    return body;
}

NotificationManager::NotificationManager(QObject *parent)
    : QObject(parent)
{
}

NotificationManager &NotificationManager::shared()
{
    // Never destroyed: it may still be called while other statics are torn down.
    static auto *instance = new NotificationManager;
    return *instance;
}

void NotificationManager::setApplicationActiveProvider(std::function<bool()> provider)
{
    m_applicationActive = std::move(provider);
}

void NotificationManager::requestAuthorization()
{
    callServer(this, QStringLiteral("GetCapabilities"), {}, QStringLiteral("通知授权请求错误: "));
}

void NotificationManager::sendCompletionNotification(ConversionMode mode, int processedCount, qint64 savedBytes,
                                                     int failedCount)
{
    if (m_applicationActive && m_applicationActive())
        return;
    if (processedCount < 1 && failedCount < 1)
        return;
    const QString appId = QStringLiteral(PIKORA_APP_ID);
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), appId},
        {QStringLiteral("sound-name"), QStringLiteral("complete")},
    };
    callServer(this, QStringLiteral("Notify"),
               {QStringLiteral("Pikora"), 0u, appId, completionNotificationTitle(mode),
                completionNotificationBody(mode, processedCount, savedBytes, failedCount), QStringList(), hints, -1},
               QStringLiteral("发送通知失败: "));
}
