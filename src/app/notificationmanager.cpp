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
    return mode == ConversionMode::jpegToJXL ? NotificationManager::tr("Pikora · 照片瘦身完成")
                                             : NotificationManager::tr("Pikora · 照片还原完成");
}

QString completionNotificationBody(ConversionMode mode, int processedCount, qint64 savedBytes, int failedCount)
{
    // Whole sentences, so that each language can order the count and the size as it needs.
    QString body;
    if (mode == ConversionMode::jpegToJXL) {
        body = savedBytes >= 1
            ? NotificationManager::tr("已完成 %n 张照片无损压缩，累计节省 %1", nullptr, processedCount).arg(formattedBytes(savedBytes))
            : NotificationManager::tr("已完成 %n 张照片无损压缩", nullptr, processedCount);
    } else {
        body = NotificationManager::tr("已成功还原 %n 张照片为原始 JPEG", nullptr, processedCount);
    }
    if (failedCount >= 1)
        body += NotificationManager::tr("（%n 个项目失败）", nullptr, failedCount);
    return body;
}

NotificationManager::NotificationManager(QObject *parent)
    : QObject(parent)
{
}

void NotificationManager::setApplicationActiveProvider(std::function<bool()> provider)
{
    m_applicationActive = std::move(provider);
}

void NotificationManager::checkServer()
{
    callServer(this, QStringLiteral("GetCapabilities"), {}, tr("通知服务检查失败: "));
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
               tr("发送通知失败: "));
}
