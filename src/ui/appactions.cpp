#include "ui/appactions.h"

#include "app/batchrunner.h"
#include "app/settingsstore.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "integration/updatemanager.h"
#include "ui/icons.h"
#include "ui/windowstate.h"

#include <QAction>
#include <QActionGroup>
#include <QRegularExpression>

namespace {

// The menu text, with its mnemonic, and the same without it for buttons and tooltips.
void setTexts(QAction *action, const QString &text)
{
    action->setText(text);
    // Buttons and tooltips show the text without its mnemonic: Qt would strip the "&" of
    // "开始压缩(&S)" but leave "(S)" behind.
    static const QRegularExpression mnemonic(QStringLiteral("\\(&[^&]\\)|&(?=[^&])"));
    const QString plain = QString(text).remove(mnemonic);
    action->setIconText(plain);
    action->setToolTip(plain);
}

} // namespace

CommandFacts CommandFacts::of(const Workspace &workspace, const BatchRunner &runner, const ToolStatus &tools,
                              const WindowState &view)
{
    CommandFacts facts;
    facts.mode = workspace.activeMode();
    facts.listEmpty = workspace.currentTasks()->isEmpty();
    facts.processing = runner.isProcessing();
    facts.toolReady = tools.isReady(facts.mode);
    facts.hasSelection = !workspace.selectedTaskIds().isEmpty();
    facts.failedCount = workspace.failedCount();
    facts.statsShown = view.showStatsSheet();
    return facts;
}

namespace CommandRules {

bool clearList(const CommandFacts &facts)
{
    return !facts.listEmpty && !facts.processing;
}

bool selectAll(const CommandFacts &facts)
{
    return !facts.listEmpty;
}

bool removeSelected(const CommandFacts &facts)
{
    return facts.hasSelection;
}

bool preview(const CommandFacts &facts)
{
    return facts.hasSelection;
}

bool start(const CommandFacts &facts)
{
    return !facts.processing && !facts.listEmpty && facts.toolReady;
}

bool stop(const CommandFacts &facts)
{
    return facts.processing;
}

bool retryFailed(const CommandFacts &facts)
{
    // Retrying starts a batch, so it needs what starting needs: without the tool every retried
    // job would just fail again.
    return facts.failedCount > 0 && !facts.processing && facts.toolReady;
}

} // namespace CommandRules

AppActions::AppActions(Workspace *workspace, BatchRunner *runner, SettingsStore *settings, ToolStatus *tools,
                       WindowState *view, UpdateManager *updates, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_workspace(workspace)
    , m_runner(runner)
    , m_tools(tools)
    , m_view(view)
    , m_updates(updates)
    , m_modes(new QActionGroup(this))
{
    const auto ctrl = [](int key) { return QKeySequence(Qt::CTRL | key); };

    about = make(tr("关于 Pikora(&A)"), QString(), {});
    about->setMenuRole(QAction::AboutRole);
    checkForUpdates = make(tr("检查更新(&U)…"), QString(), {});
    preferences = make(tr("偏好设置(&P)…"), QStringLiteral("preferences-system"), ctrl(Qt::Key_Comma));
    preferences->setMenuRole(QAction::PreferencesRole);
    preferences->setIconText(tr("偏好设置"));
    preferences->setToolTip(tr("偏好设置"));
    quit = make(tr("退出(&Q)"), QString(), ctrl(Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);

    importPhotos = make(tr("导入照片(&I)…"), QStringLiteral("list-add"), ctrl(Qt::Key_O));
    importPhotos->setIconText(tr("选择照片"));
    importPhotos->setToolTip(tr("选择照片…"));
    importFolder = make(tr("导入文件夹(&F)…"), QStringLiteral("folder-new"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_O));
    importFolder->setIconText(tr("选择文件夹"));
    importFolder->setToolTip(tr("选择文件夹…"));
    clearList = make(tr("清空列表(&C)"), QStringLiteral("user-trash"), ctrl(Qt::Key_K));
    clearList->setToolTip(tr("清空列表 (Ctrl+K)"));

    selectAll = make(tr("全选(&A)"), QString(), ctrl(Qt::Key_A));
    // Space and Delete belong to the table: it acts on them while it has focus. Here they only
    // label the menu items (a window-wide Space would fire while a button has focus).
    removeSelected = make(tr("从列表中移除(&R)"), QString(), QKeySequence(Qt::Key_Delete));
    removeSelected->setShortcutContext(Qt::WidgetShortcut);
    preview = make(tr("快速查看(&Q)…"), QString(), QKeySequence(Qt::Key_Space));
    preview->setShortcutContext(Qt::WidgetShortcut);

    compressMode = make(tr("压缩照片模式(&C)"), QStringLiteral("pikora-mode-compress"), ctrl(Qt::Key_1));
    compressMode->setIconText(tr("压缩照片"));
    compressMode->setToolTip(tr("压缩照片\n将 JPEG 无损转换为 JXL"));
    restoreMode = make(tr("还原照片模式(&R)"), QStringLiteral("pikora-mode-restore"), ctrl(Qt::Key_2));
    restoreMode->setIconText(tr("还原照片"));
    restoreMode->setToolTip(tr("还原照片\n将 JXL 精确还原为 JPEG"));
    for (QAction *mode : {compressMode, restoreMode}) {
        mode->setCheckable(true);
        m_modes->addAction(mode);
    }
    statistics = make(tr("储存空间概览(&S)…"), QStringLiteral("pikora-gauge"), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_I));
    statistics->setIconText(tr("储存空间概览"));
    statistics->setToolTip(tr("储存空间概览"));
    statistics->setCheckable(true);

    start = make(tr("开始压缩(&S)"), QStringLiteral("media-playback-start"), QKeySequence(Qt::CTRL | Qt::Key_Return));
    start->setShortcuts({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)});
    stop = make(tr("停止处理(&T)"), QStringLiteral("process-stop"), ctrl(Qt::Key_Period));
    retryFailed = make(tr("重新尝试失败项目(&R)"), QStringLiteral("view-refresh"),
                       QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));

    connect(checkForUpdates, &QAction::triggered, this, [this] {
        if (m_updates)
            m_updates->checkForUpdates(m_settings->settings().customUpdateFeedURL, true);
    });
    connect(preferences, &QAction::triggered, view, &WindowState::openSettings);
    connect(clearList, &QAction::triggered, m_workspace, &Workspace::clearCurrentTasks);
    connect(selectAll, &QAction::triggered, m_workspace, &Workspace::selectAllTasks);
    connect(removeSelected, &QAction::triggered, m_workspace, &Workspace::removeSelectedTasks);
    connect(preview, &QAction::triggered, this, [this] {
        // The selected job of the shown list, if any.
        const QSet<QUuid> &selected = m_workspace->selectedTaskIds();
        if (selected.isEmpty())
            return;
        if (const TaskItem *task = m_workspace->currentTasks()->find(*selected.constBegin()))
            m_view->previewTask(*task);
    });
    // triggered, not toggled: following the state (setChecked) must not switch again.
    connect(compressMode, &QAction::triggered, this, [this] { m_workspace->switchMode(ConversionMode::jpegToJXL); });
    connect(restoreMode, &QAction::triggered, this, [this] { m_workspace->switchMode(ConversionMode::jxlToJPEG); });
    connect(statistics, &QAction::triggered, view, &WindowState::setShowStatsSheet);
    connect(start, &QAction::triggered, m_runner, &BatchRunner::startCurrentProcessing);
    connect(stop, &QAction::triggered, m_runner, &BatchRunner::cancel);
    connect(retryFailed, &QAction::triggered, m_workspace, &Workspace::retryFailedTasks);

    for (TaskList *list : {m_workspace->compressTasks(), m_workspace->restoreTasks()})
        connect(list, &TaskList::changed, this, &AppActions::refresh);
    for (auto signal : {&Workspace::activeModeChanged, &Workspace::selectedTaskIdsChanged})
        connect(m_workspace, signal, this, &AppActions::refresh);
    connect(m_runner, &BatchRunner::isProcessingChanged, this, &AppActions::refresh);
    connect(m_tools, &ToolStatus::statusChanged, this, &AppActions::refresh);
    connect(view, &WindowState::showStatsSheetChanged, this, &AppActions::refresh);
    refresh();
}

QAction *AppActions::make(const QString &text, const QString &iconName, const QKeySequence &shortcut)
{
    auto *action = new QAction(this);
    setTexts(action, text);
    if (!iconName.isEmpty())
        action->setIcon(Icons::themed(iconName));
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

QList<QAction *> AppActions::all() const
{
    return {about,       checkForUpdates, preferences, quit,        importPhotos, importFolder,
            clearList,   selectAll,       removeSelected, preview, compressMode, restoreMode,
            statistics,  start,           stop,        retryFailed};
}

void AppActions::refresh()
{
    apply(CommandFacts::of(*m_workspace, *m_runner, *m_tools, *m_view));
}

void AppActions::apply(const CommandFacts &facts)
{
    clearList->setEnabled(CommandRules::clearList(facts));
    selectAll->setEnabled(CommandRules::selectAll(facts));
    removeSelected->setEnabled(CommandRules::removeSelected(facts));
    preview->setEnabled(CommandRules::preview(facts));
    start->setEnabled(CommandRules::start(facts));
    stop->setEnabled(CommandRules::stop(facts));
    retryFailed->setEnabled(CommandRules::retryFailed(facts));

    const bool compressing = facts.mode == ConversionMode::jpegToJXL;
    setTexts(start, compressing ? tr("开始压缩(&S)") : tr("还原照片(&S)"));
    if (m_shownMode != facts.mode) {
        m_shownMode = facts.mode;
        start->setIcon(Icons::themed(compressing ? QStringLiteral("media-playback-start")
                                                 : QStringLiteral("pikora-mode-restore")));
    }
    // The island's retry button reads "重试 N 项"; the menu keeps its own title.
    retryFailed->setIconText(tr("重试 %n 项", nullptr, facts.failedCount));
    retryFailed->setToolTip(tr("重新尝试 %n 个失败项目", nullptr, facts.failedCount));

    (compressing ? compressMode : restoreMode)->setChecked(true);
    statistics->setChecked(facts.statsShown);
}
