#include "filemanager.h"

#include "desktopopener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QStringList>

namespace FileManager {
namespace {

void openFolderOf(const QUrl &file)
{
    DesktopOpener::openWithDefaultApplication(QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath()));
}

} // namespace

void showItems(const QList<QUrl> &files)
{
    QStringList uris;
    for (const QUrl &file : files) {
        if (file.isLocalFile())
            uris.append(file.toString(QUrl::FullyEncoded));
    }
    if (uris.isEmpty())
        return;
    const QUrl first(uris.first());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(first);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // The watcher is its own context: it lives exactly as long as the answer is awaited.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first](QDBusPendingCallWatcher *done) {
        if (QDBusPendingReply<>(*done).isError())
            openFolderOf(first);
        done->deleteLater();
    });
}

void openWithDefaultApp(const QUrl &file)
{
    DesktopOpener::openWithDefaultApplication(file);
}

} // namespace FileManager
