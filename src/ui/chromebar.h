#pragma once

#include <QTimer>
#include <QWidget>

class ActionIsland;
class AppActions;
class Workspace;
class BatchController;
class BatchRunner;
class ToolStatus;
class StatusIsland;
struct StatusFacts;

// The floating bar along the bottom of the content: the status island on the left, the action
// island on the right. A child of the content area that follows its size (an event filter on
// it) and lets clicks between the islands through to what lies below.
class ChromeBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChromeBar)

public:
    // Space from the islands to the content's edges.
    static constexpr int sideMargin = 18;
    static constexpr int topMargin = 8;
    static constexpr int bottomMargin = 12;

    ChromeBar(Workspace *workspace, BatchController *batch, BatchRunner *runner, ToolStatus *tools, AppActions *actions,
              QWidget *host);

    // Shows these facts now (the services' changes arrive coalesced through refresh()).
    void setFacts(const StatusFacts &facts);
    StatusIsland *statusIsland() const { return m_status; }
    ActionIsland *actionIsland() const { return m_action; }
    // How much of the host's bottom the bar covers while it shows, margins included.
    static int reservedHeight();

Q_SIGNALS:
    void shownChanged(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void refresh();
    void place();
    void updateMask();

    Workspace *m_workspace;
    BatchController *m_batch;
    BatchRunner *m_runner;
    ToolStatus *m_tools;
    StatusIsland *m_status;
    ActionIsland *m_action;
    QTimer m_refresh;
};
