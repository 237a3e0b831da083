#include "ui/chromebar.h"

#include "app/batchcontroller.h"
#include "app/batchrunner.h"
#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "ui/actionisland.h"
#include "ui/statusisland.h"

#include <QEvent>
#include <QHBoxLayout>

ChromeBar::ChromeBar(Workspace *workspace, BatchController *batch, BatchRunner *runner, ToolStatus *tools,
                     AppActions *actions, QWidget *host)
    : QWidget(host)
    , m_workspace(workspace)
    , m_batch(batch)
    , m_runner(runner)
    , m_tools(tools)
    , m_status(new StatusIsland(actions, this))
    , m_action(new ActionIsland(actions, this))
{
    setAttribute(Qt::WA_TranslucentBackground);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    row->addWidget(m_status, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(m_action, 0, Qt::AlignVCenter);
    host->installEventFilter(this);

    // Job updates arrive in floods during a batch: one repaint per turn of the event loop.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, &ChromeBar::refresh);
    const auto schedule = [this] { m_refresh.start(); };
    for (TaskList *list : {m_workspace->compressTasks(), m_workspace->restoreTasks()})
        connect(list, &TaskList::changed, this, schedule);
    connect(m_workspace, &Workspace::activeModeChanged, this, schedule);
    connect(m_runner, &BatchRunner::isProcessingChanged, this, schedule);
    connect(m_tools, &ToolStatus::statusChanged, this, schedule);
    for (auto signal : {&BatchController::stateChanged, &BatchController::progressChanged})
        connect(m_batch, signal, this, schedule);
    refresh();
    place();
}

int ChromeBar::reservedHeight()
{
    return topMargin + GlassPanel::islandHeight + bottomMargin;
}

void ChromeBar::refresh()
{
    setFacts(StatusFacts::of(*m_workspace, *m_tools, *m_runner));
}

void ChromeBar::setFacts(const StatusFacts &facts)
{
    const bool listShown = facts.count > 0;
    m_status->setFacts(facts);
    m_status->setVisible(!facts.toolReady || facts.batch.running || listShown);
    m_action->setProcessing(facts.batch.running);
    m_action->setVisible(listShown || facts.batch.running);
    const bool shown = m_status->isVisibleTo(this) || m_action->isVisibleTo(this);
    if (shown != isVisibleTo(parentWidget())) {
        setVisible(shown);
        Q_EMIT shownChanged(shown);
    }
    if (shown) {
        raise();
        layout()->activate();
        updateMask();
    }
}

bool ChromeBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        place();
    return QWidget::eventFilter(watched, event);
}

void ChromeBar::place()
{
    const QWidget *host = parentWidget();
    const int height = GlassPanel::islandHeight;
    setGeometry(sideMargin, host->height() - bottomMargin - height, std::max(0, host->width() - 2 * sideMargin), height);
    raise();
}

void ChromeBar::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layout()->activate();
    updateMask();
}

void ChromeBar::updateMask()
{
    QRegion region;
    for (QWidget *island : std::initializer_list<QWidget *>{m_status, m_action}) {
        if (island->isVisibleTo(this))
            region += island->geometry();
    }
    setMask(region);
}
