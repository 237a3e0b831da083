#include "app/appstate.h"
#include "app/launcherprogress.h"
#include "app/importservice.h"
#include "app/launchrequest.h"
#include "app/notificationmanager.h"
#include "app/settingsstore.h"
#include "app/singleinstance.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "integration/updatemanager.h"
#include "ui/commandlinehelp.h"
#include "platform/soundplayer.h"
#include "platform/uilanguage.h"
#include "ui/mainwindow.h"
#include "version.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

int main(int argc, char *argv[])
{
    if (const std::optional<int> status = CommandLineHelp::answer(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pikora"));
    QApplication::setApplicationVersion(QStringLiteral(PIKORA_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(PIKORA_APP_ID));
    UiLanguage::install(&app);

    const LaunchRequest request = LaunchRequest::fromArguments(QApplication::arguments().mid(1), QDir::currentPath());
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::secondary
        && instance.forward(request, SingleInstance::currentPlatformData()))
        return 0;
    // Either the id is ours, there is no session bus, or the owner vanished mid-hand-over: this
    // process shows the window.

    // The window's services, made here and handed to whoever uses them; they outlive the state.
    NotificationManager notifications;
    LauncherProgress launcher;
    UpdateManager updates;
    AppState state(BatchFeedback::Devices{&notifications, &launcher, &SoundPlayer::defaultPlayer(), true});
    MainWindow window(&state, &updates, &notifications, &launcher);
    // Closing the window ends the application, also while the settings window is open.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(&window, &MainWindow::quitRequested, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    window.show();

    // Once per process, not per show: a restored window must not import removed rows again.
    instance.deliver(request);
    QTimer::singleShot(0, &window, [&] {
        state.tools()->probe();
        instance.setReceiver(&window, [&](const LaunchRequest &next, const QVariantMap &) {
            next.applyTo(state.workspace(), state.imports());
            window.present();
        });
        if (state.settings()->settings().autoCheckForUpdates) {
            QTimer::singleShot(1000, &updates, [&] {
                updates.checkForUpdates(state.settings()->settings().customUpdateFeedURL, false);
            });
        }
    });
    return QApplication::exec();
}
