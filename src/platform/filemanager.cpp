#include "filemanager.h"

#include "desktopopener.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

namespace FileManager {

namespace {

QString noFileManagerText()
{
    return QCoreApplication::translate("FileManager", "没有可用的文件管理器来显示此文件");
}

// The folder through xdg-open, watched to its end: it exits non-zero when nothing can open a folder.
void openFolderOf(const QUrl &file, const Failure &failed)
{
    const QString folder = QFileInfo(file.toLocalFile()).absolutePath();
    if (!failed) {
        DesktopOpener::openWithDefaultApplication(QUrl::fromLocalFile(folder));
        return;
    }
    auto *opener = new QProcess();
    opener->setProgram(QStringLiteral("xdg-open"));
    opener->setArguments({folder});
    opener->setStandardOutputFile(QProcess::nullDevice());
    opener->setStandardErrorFile(QProcess::nullDevice());
    QObject::connect(opener, &QProcess::errorOccurred, opener, [opener, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        failed(noFileManagerText());
        opener->deleteLater();
    });
    QObject::connect(opener, &QProcess::finished, opener, [opener, failed](int exitCode, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || exitCode != 0)
            failed(noFileManagerText());
        opener->deleteLater();
    });
    opener->start();
}

} // namespace

void showItems(const QList<QUrl> &files, const Failure &failed)
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
        openFolderOf(first, failed);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    // Asynchronous: a file manager that is started on demand may take seconds to answer.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), nullptr);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [first, failed](QDBusPendingCallWatcher *self) {
        if (QDBusPendingReply<>(*self).isError())
            openFolderOf(first, failed);
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
