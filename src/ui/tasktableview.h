#pragma once

#include "ui/taskrowactions.h"

#include <QList>
#include <QTableView>
#include <QTimer>
#include <QUuid>

class DropOverlay;
class ImportService;
class ToolStatus;
class WindowState;
class Workspace;
class QMenu;
class TaskRowDelegate;
class TaskSortProxy;
class TaskTableModel;
class ThumbnailCache;

// The jobs of the shown direction, one row each, sorted by the clicked column and kept sorted
// while a batch runs. Its selection is the workspace's selection. Row actions find their job by id
// at the moment they run (rows move as jobs change). Takes dropped local files as a copy and
// lets finished photos be dragged out as copies.
class TaskTableView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskTableView)

public:
    using FileActions = TaskRowActions::FileActions;

    // thumbnails may be null: rows then show their placeholder icons.
    TaskTableView(Workspace *workspace, ImportService *imports, ToolStatus *tools, ThumbnailCache *thumbnails,
                  WindowState *view, QWidget *parent = nullptr);
    ~TaskTableView() override;

    TaskTableModel *taskModel() const { return m_model; }
    TaskSortProxy *sortProxy() const { return m_proxy; }
    TaskRowActions *rowActions() const { return m_rowActions; }
    void setFileActions(const FileActions &actions) { m_rowActions->setFileActions(actions); }
    void setThumbnailCache(ThumbnailCache *cache);
    // Room kept free below the last row, for what floats over the table's bottom edge: every
    // row can still be scrolled into view above it.
    void setBottomMargin(int height);
    int bottomMargin() const { return m_bottomMargin; }

    // The id of the job a row (of the view) shows; null when there is no such row.
    QUuid taskIdAt(int row) const;
    // The view row that shows the job, or -1.
    int rowOf(const QUuid &id) const;
    // The context menu of a job's row, built for its state now; the caller owns it.
    QMenu *makeRowMenu(const QUuid &id, QWidget *parent = nullptr) { return m_rowActions->makeMenu(id, parent); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void updateGeometries() override;

private:
    void showList();
    void fitColumns();
    void pushSelection();
    void pullSelection();
    void pushSortOrder(int column, Qt::SortOrder order);
    void pullSortOrder();
    void thumbnailReady(const QString &path);
    void updateSpinner();
    void spinnerTick();

    Workspace *m_workspace;
    ImportService *m_imports;
    ToolStatus *m_tools;
    WindowState *m_view;
    TaskTableModel *m_model;
    TaskSortProxy *m_proxy;
    TaskRowDelegate *m_delegate;
    TaskRowActions *m_rowActions;
    ThumbnailCache *m_thumbnails = nullptr;
    DropOverlay *m_dropOverlay;
    QTimer m_spinner;
    QList<QMetaObject::Connection> m_listConnections;
    int m_bottomMargin = 0;
    // The list is removing rows: the selection model reports the vanished rows, but the state
    // drops those ids itself, and reading every selected row per removed run stalls a long list.
    bool m_listRemoving = false;
    bool m_syncingSelection = false;
    bool m_syncingSort = false;
};
