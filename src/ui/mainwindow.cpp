#include "ui/mainwindow.h"

#include "app/appstate.h"
#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/launcherprogress.h"
#include "app/importservice.h"
#include "app/notificationmanager.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "integration/updatemanager.h"
#include "ui/appactions.h"
#include "ui/batchfigures.h"
#include "ui/chromebar.h"
#include "ui/progressicon.h"
#include "ui/emptycanvas.h"
#include "ui/icons.h"
#include "ui/maintoolbar.h"
#include "ui/openpanels.h"
#include "ui/previewwindow.h"
#include "ui/progressstrip.h"
#include "ui/settingswindow.h"
#include "ui/statusisland.h"
#include "ui/statspopup.h"
#include "ui/tasktableview.h"
#include "ui/thumbnailcache.h"
#include "ui/updatesheet.h"
#include "ui/windowstate.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

// The application icon: the desktop's installed one, else a plain drawn tile.
QIcon applicationIcon()
{
    QIcon icon = QIcon::fromTheme(QStringLiteral(PIKORA_APP_ID));
    if (!icon.isNull())
        return icon;
    QPixmap tile(128, 128);
    tile.fill(Qt::transparent);
    QPainter painter(&tile);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2F, 0x6F, 0xE4));
    painter.drawRoundedRect(QRectF(8, 8, 112, 112), 26, 26);
    painter.setPen(QPen(Qt::white, 8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({QPointF(34, 84), QPointF(56, 58), QPointF(72, 74), QPointF(94, 44)}));
    return QIcon(tile);
}

} // namespace

MainWindow::MainWindow(AppState *state, UpdateManager *updates, NotificationManager *notifications,
                       LauncherProgress *launcher, QWidget *parent)
    : QMainWindow(parent)
    , m_state(state)
    , m_workspace(state->workspace())
    , m_runner(state->runner())
    , m_batch(state->batch())
    , m_imports(state->imports())
    , m_view(new WindowState(this))
    , m_thumbnails(new ThumbnailCache(this))
    , m_updates(updates)
    , m_notifications(notifications)
    , m_launcher(launcher)
    , m_actions(new AppActions(m_workspace, m_runner, state->settings(), state->tools(), m_view, updates, this))
    , m_toolBar(new MainToolBar(m_actions, this))
    , m_appIcon(applicationIcon())
{
    setWindowTitle(QStringLiteral("Pikora"));
    setWindowIcon(m_appIcon);
    // Never larger than the screen (a high scale factor on a small one): the start button must stay in reach.
    resize(QSize(860, 560).boundedTo(screen() ? screen()->availableSize() : QSize(860, 560)));
    addToolBar(Qt::TopToolBarArea, m_toolBar);
    buildMenus();

    // The content: the pages, with the chrome bar floating over their bottom edge, then the strip.
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto *stage = new QWidget(central);
    m_pages = new QStackedLayout(stage);
    m_canvas = new EmptyCanvas(m_workspace, m_imports, stage);
    m_table = new TaskTableView(m_workspace, m_imports, state->tools(), m_thumbnails, m_view, stage);
    m_table->setTabKeyNavigation(false); // Tab leaves the table for the islands; arrows move between rows
    m_pages->addWidget(m_canvas);
    m_pages->addWidget(m_table);
    column->addWidget(stage, 1);
    m_strip = new ProgressStrip(central);
    column->addWidget(m_strip);
    setCentralWidget(central);
    fitMinimumSize();
    // Queued: the table fits its columns to the other direction's texts first.
    connect(m_workspace, &Workspace::activeModeChanged, this, &MainWindow::fitMinimumSize, Qt::QueuedConnection);
    m_chromeBar = new ChromeBar(m_workspace, m_batch, m_runner, state->tools(), m_actions, stage);
    // The last rows stay reachable above the islands while they show.
    const auto reserve = [this](bool shown) { m_table->setBottomMargin(shown ? ChromeBar::reservedHeight() : 0); };
    connect(m_chromeBar, &ChromeBar::shownChanged, this, reserve);
    reserve(m_chromeBar->isVisibleTo(stage));
    m_stats = new StatsPopup(m_workspace, state->stats(), m_view, this);
    m_preview = new PreviewWindow(m_view, this);

    connect(m_actions->importPhotos, &QAction::triggered, this, [this] { OpenPanels::selectFiles(m_imports, m_workspace->activeMode(), this); });
    connect(m_actions->importFolder, &QAction::triggered, this, [this] { OpenPanels::selectFolders(m_imports, this); });

    connect(m_actions->quit, &QAction::triggered, this, &QWidget::close);
    connect(m_actions->about, &QAction::triggered, this,
            [this] { showSettings()->showTab(SettingsWindow::Tab::about); });
    connect(m_chromeBar->statusIsland(), &StatusIsland::toolPathRequested, this,
            [this](const QString &tool) { showSettings()->showToolPath(tool); });
    // "偏好设置…" and every other way to the settings lands here.
    m_view->setOpenSettingsAction([this] { showSettings(); });
    if (m_updates)
        connect(m_updates, &UpdateManager::updateFound, m_view, [view = m_view] { view->setShowUpdateSheet(true); });
    connect(m_view, &WindowState::showUpdateSheetChanged, this, &MainWindow::syncUpdateSheet);

    m_sync.setSingleShot(true);
    m_sync.setInterval(0);
    connect(&m_sync, &QTimer::timeout, this, &MainWindow::syncContent);
    const auto schedule = [this] { m_sync.start(); };
    for (TaskList *list : {m_workspace->compressTasks(), m_workspace->restoreTasks()})
        connect(list, &TaskList::changed, this, schedule);
    connect(m_workspace, &Workspace::activeModeChanged, this, schedule);
    connect(m_runner, &BatchRunner::isProcessingChanged, this, schedule);
    for (auto signal : {&BatchController::stateChanged, &BatchController::progressChanged})
        connect(m_batch, signal, this, schedule);
    connect(m_view, &WindowState::showStatsSheetChanged, this, &MainWindow::syncStats);
    connect(m_runner, &BatchRunner::diskWarningMessageChanged, this, &MainWindow::showDiskWarning);
    if (m_launcher)
        connect(m_launcher, &LauncherProgress::changed, this, &MainWindow::syncIcon);
    if (m_notifications) {
        m_notifications->setApplicationActiveProvider(
            [this] { return isActiveWindow() || QGuiApplication::applicationState() == Qt::ApplicationActive; });
    }
    syncContent();
}

MainWindow::~MainWindow()
{
    // The callback reaches into this window; the manager outlives it.
    if (m_notifications)
        m_notifications->setApplicationActiveProvider(nullptr);
    // The cache is a child made before the table: it goes first, so the table lets go of it now.
    m_table->setThumbnailCache(nullptr);
}

void MainWindow::buildMenus()
{
    QMenuBar *bar = menuBar();
    QMenu *app = bar->addMenu(QStringLiteral("&Pikora"));
    app->addActions({m_actions->about, m_actions->checkForUpdates, m_actions->preferences});
    app->addSeparator();
    app->addAction(m_actions->quit);

    QMenu *file = bar->addMenu(tr("文件(&F)"));
    file->addActions({m_actions->importPhotos, m_actions->importFolder});
    file->addSeparator();
    file->addAction(m_actions->clearList);

    QMenu *edit = bar->addMenu(tr("编辑(&E)"));
    edit->addActions({m_actions->selectAll, m_actions->removeSelected});

    QMenu *view = bar->addMenu(tr("显示(&V)"));
    view->addAction(m_actions->preview);
    view->addSeparator();
    view->addActions({m_actions->compressMode, m_actions->restoreMode});
    view->addSeparator();
    view->addAction(m_actions->statistics);

    QMenu *tasks = bar->addMenu(tr("任务(&T)"));
    tasks->addActions({m_actions->start, m_actions->stop});
    tasks->addSeparator();
    tasks->addAction(m_actions->retryFailed);

    // Alt and a title's letter open its menu; F10 opens the first, as on other Linux desktops.
    auto *menuKey = new QAction(this);
    menuKey->setShortcut(QKeySequence(Qt::Key_F10));
    connect(menuKey, &QAction::triggered, this, [bar, app] { bar->setActiveAction(app->menuAction()); });
    addAction(menuKey);

    // The commands' shortcuts work wherever focus is in the window, the menu bar hidden or not;
    // Space and Delete are the table's own.
    for (QAction *action : m_actions->all()) {
        if (action->shortcutContext() == Qt::WindowShortcut)
            addAction(action);
    }
}

QWidget *MainWindow::currentPage() const
{
    return m_pages->currentWidget();
}

void MainWindow::syncContent()
{
    QWidget *page = m_workspace->currentTasks()->isEmpty() ? static_cast<QWidget *>(m_canvas) : m_table;
    if (m_pages->currentWidget() != page) {
        // Keyboard focus must not stay on a page that is going away.
        const bool hadFocus = m_pages->currentWidget() && m_pages->currentWidget()->isAncestorOf(focusWidget());
        m_pages->setCurrentWidget(page);
        if (hadFocus || page == m_table)
            page->setFocus();
    }
    m_chromeBar->raise();
    const BatchFigures batch = BatchFigures::of(*m_runner);
    m_strip->setVisible(batch.running);
    m_strip->setProgress(batch.progress());
}

void MainWindow::syncStats()
{
    if (m_view->showStatsSheet()) {
        if (m_stats->isVisible())
            return;
        QWidget *anchor = m_toolBar->isVisible() ? static_cast<QWidget *>(m_toolBar->statisticsButton()) : centralWidget();
        // A panel that cannot open must not leave the flag on: the next command would do nothing.
        if (!isVisible() || !m_stats->popUp(anchor))
            m_view->setShowStatsSheet(false);
    } else if (m_stats->isVisible()) {
        m_stats->hide();
    }
}

void MainWindow::syncIcon()
{
    if (!m_launcher || !m_launcher->isShowing()) {
        setWindowIcon(m_appIcon);
        return;
    }
    const QImage base = m_appIcon.pixmap(128, 128).toImage();
    setWindowIcon(QIcon(QPixmap::fromImage(paintProgressIcon(base, QSize(128, 128), m_launcher->progress(), m_launcher->text()))));
}

void MainWindow::showDiskWarning()
{
    const std::optional<QString> &message = m_runner->diskWarningMessage();
    if (!message || m_diskAlert)
        return;
    m_diskAlert = new QMessageBox(QMessageBox::Warning,
                                   m_runner->isOutputFolderMissing() ? tr("输出位置不可用") : tr("磁盘空间不足"), *message, QMessageBox::NoButton, this);
    m_diskAlert->setTextFormat(Qt::PlainText);
    m_diskAlert->addButton(tr("好"), QMessageBox::AcceptRole);
    m_diskAlert->setWindowModality(Qt::WindowModal);
    m_diskAlert->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_diskAlert, &QMessageBox::finished, this, [this] { m_runner->clearDiskWarning(); });
    m_diskAlert->open();
}

void MainWindow::fitMinimumSize()
{
    // Wide enough for the table's columns and scroll bar (they follow the direction), which
    // would otherwise stick out past the window's edge; never larger than the
    // screen (a high scale factor on a small one): the start button must stay in reach.
    const QSize room = screen() ? screen()->availableSize() : QSize(860, 560);
    setMinimumSize(QSize(std::max(680, m_table->minimumWidth()), 420).boundedTo(room));
}

SettingsWindow *MainWindow::showSettings()
{
    if (!m_settings)
        m_settings = new SettingsWindow(m_state->settings(), m_state->tools(), m_state->fileManagerActions(), m_updates,
                                        m_state->autoConvert(), this);
    m_settings->show();
    m_settings->raise();
    m_settings->activateWindow();
    return m_settings;
}

void MainWindow::syncUpdateSheet()
{
    if (m_view->showUpdateSheet() && m_updates) {
        if (m_updateSheet)
            return;
        m_updateSheet = new UpdateSheet(m_updates, this);
        m_updateSheet->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_updateSheet, &QDialog::finished, m_view, [view = m_view] { view->setShowUpdateSheet(false); });
        m_updateSheet->setWindowModality(Qt::WindowModal);
        m_updateSheet->open();
    } else if (m_updateSheet) {
        m_updateSheet->close();
    }
}

void MainWindow::present()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_readyToClose) {
        event->accept();
        Q_EMIT quitRequested();
        return;
    }
    event->ignore();
    if (m_quitting)
        return; // already waiting for the tools
    if (m_runner->isProcessing()) {
        confirmQuitDuringBatch();
        return;
    }
    if (m_batch->runningJobCount() > 0) { // a cancelled batch's tools are still stopping
        quitWhenToolsExited();
        return;
    }
    event->accept();
    Q_EMIT quitRequested();
}

void MainWindow::confirmQuitDuringBatch()
{
    if (m_quitQuestion) {
        m_quitQuestion->raise();
        return;
    }
    m_quitQuestion = new QMessageBox(QMessageBox::Question, tr("正在处理照片"), tr("要停止处理并退出 Pikora 吗？"),
                                     QMessageBox::NoButton, this);
    m_quitQuestion->setInformativeText(tr("正在转换的照片会回到等待状态，不留下未完成的文件；原始照片保持不变。"));
    m_quitQuestion->setTextFormat(Qt::PlainText);
    QPushButton *stop = m_quitQuestion->addButton(tr("停止并退出"), QMessageBox::DestructiveRole);
    QPushButton *keep = m_quitQuestion->addButton(tr("继续处理"), QMessageBox::RejectRole);
    m_quitQuestion->setDefaultButton(keep);
    m_quitQuestion->setEscapeButton(keep);
    m_quitQuestion->setWindowModality(Qt::WindowModal);
    m_quitQuestion->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_quitQuestion, &QMessageBox::buttonClicked, this, [this, stop](QAbstractButton *clicked) {
        if (clicked != stop)
            return;
        m_runner->cancel();
        quitWhenToolsExited();
    });
    m_quitQuestion->open();
}

void MainWindow::quitWhenToolsExited()
{
    m_quitting = true;
    m_actions->quit->setEnabled(false);
    // Cancelled tools are being stopped; their jobs come back pending and leave no partial files.
    auto *wait = new QTimer(this);
    wait->setInterval(50);
    // close() from a timer: a close requested inside closeEvent is ignored.
    const auto check = [this, wait] {
        if (m_batch->runningJobCount() > 0)
            return;
        wait->stop();
        wait->deleteLater();
        m_readyToClose = true;
        close();
    };
    connect(wait, &QTimer::timeout, this, check);
    wait->start();
}
