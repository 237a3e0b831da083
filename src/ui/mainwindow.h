#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

class AppActions;
class AppState;
class ImportService;
class WindowState;
class Workspace;
class BatchRunner;
class BatchController;
class ChromeBar;
class LauncherProgress;
class EmptyCanvas;
class MainToolBar;
class NotificationManager;
class PreviewWindow;
class ProgressStrip;
class QMessageBox;
class QStackedLayout;
class SettingsWindow;
class StatsPopup;
class TaskTableView;
class ThumbnailCache;
class UpdateSheet;
class UpdateManager;

// The application's one window. It only assembles: the toolbar, the menus of the shared
// commands, the empty canvas or the task table, the chrome bar floating over them, the
// progress strip and the statistics panel; each region reads the state itself.
class MainWindow final : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainWindow)

public:
    MainWindow(AppState *state, UpdateManager *updates, NotificationManager *notifications,
               LauncherProgress *launcher, QWidget *parent = nullptr);
    ~MainWindow() override;

    AppActions *actions() const { return m_actions; }
    MainToolBar *mainToolBar() const { return m_toolBar; }
    ChromeBar *chromeBar() const { return m_chromeBar; }
    ProgressStrip *progressStrip() const { return m_strip; }
    StatsPopup *statsPopup() const { return m_stats; }
    // The page shown now: the empty canvas or the table.
    QWidget *currentPage() const;
    EmptyCanvas *canvas() const { return m_canvas; }
    TaskTableView *table() const { return m_table; }
    // What the window shows and how: sort order, preview, statistics popup.
    WindowState *windowState() const { return m_view; }

    // The one settings window, made on first use and raised when it is open already.
    SettingsWindow *showSettings();

    // Brings the window forward (restored if minimised) for a launch that handed its files over.
    void present();

Q_SIGNALS:
    // The window closed for good; nothing of a batch is left running.
    void quitRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildMenus();
    void fitMinimumSize();
    void syncContent();
    void syncStats();
    void syncIcon();
    void showDiskWarning();
    void syncUpdateSheet();
    void confirmQuitDuringBatch();
    void quitWhenToolsExited();

    AppState *m_state;
    Workspace *m_workspace;
    BatchRunner *m_runner;
    BatchController *m_batch;
    ImportService *m_imports;
    WindowState *m_view;
    ThumbnailCache *m_thumbnails;
    UpdateManager *m_updates;
    NotificationManager *m_notifications;
    LauncherProgress *m_launcher;
    AppActions *m_actions;
    MainToolBar *m_toolBar;
    QStackedLayout *m_pages;
    EmptyCanvas *m_canvas;
    TaskTableView *m_table;
    ChromeBar *m_chromeBar;
    ProgressStrip *m_strip;
    StatsPopup *m_stats;
    PreviewWindow *m_preview;
    QIcon m_appIcon;
    QTimer m_sync;
    QPointer<QMessageBox> m_quitQuestion;
    QPointer<QMessageBox> m_diskAlert;
    QPointer<SettingsWindow> m_settings;
    QPointer<UpdateSheet> m_updateSheet;
    bool m_quitting = false;      // cancelled for quitting; waiting for the tools to exit
    bool m_readyToClose = false;
};
