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
    const QUrl first(uris.constFirst());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(first);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous: a file manager that is started on demand may take seconds to answer.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first](QDBusPendingCallWatcher *self) {
        if (QDBusPendingReply<>(*self).isError())
            openFolderOf(first);
        self->deleteLater();
    });
}

bool openWithDefaultApp(const QUrl &file)
{
    if (!file.isLocalFile())
        return false;
    return DesktopOpener::openWithDefaultApplication(file);
}

} // namespace FileManager
