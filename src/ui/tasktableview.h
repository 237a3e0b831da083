#pragma once

#include <QList>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <functional>

class AppState;
class WindowState;
class Workspace;
class ImportService;
class ToolStatus;
class QMenu;
class TaskList;
class TaskRowDelegate;
class TaskSortProxy;
class TaskTableModel;
class ThumbnailCache;
struct TaskItem;

// The jobs of the shown direction, one row each, sorted by the clicked column and kept sorted
// while a batch runs. Its selection is the workspace's selection. Row actions find their job by id
// at the moment they run (rows move as jobs change). Takes dropped local files as a copy and
// lets finished photos be dragged out as copies.
class TaskTableView final : public QTableView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskTableView)

public:
    // How the row actions reach the desktop; replaceable so that tests can watch them.
    struct FileActions
    {
        std::function<bool(const QUrl &)> open;
        std::function<void(const QList<QUrl> &)> reveal;
    };

    TaskTableView(AppState *state, WindowState *view, QWidget *parent = nullptr);
    ~TaskTableView() override;

    TaskTableModel *taskModel() const { return m_model; }
    TaskSortProxy *sortProxy() const { return m_proxy; }
    void setFileActions(const FileActions &actions) { m_fileActions = actions; }
    void setThumbnailCache(ThumbnailCache *cache);

    // The id of the job a row (of the view) shows; null when there is no such row.
    QUuid taskIdAt(int row) const;
    // The view row that shows the job, or -1.
    int rowOf(const QUuid &id) const;
    // The context menu of a job's row, built for its state now; the caller owns it.
    QMenu *makeRowMenu(const QUuid &id, QWidget *parent = nullptr);

    // The actions of a row, by job id; each does nothing when the job has left the list.
    void openTask(const QUuid &id);
    void revealTask(const QUuid &id);
    void previewTask(const QUuid &id);
    void retryTask(const QUuid &id);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    class DropOverlay;

    const TaskItem *task(const QUuid &id) const;
    void showList();
    void pushSelection();
    void pullSelection();
    void pushSortOrder(int column, Qt::SortOrder order);
    void pullSortOrder();
    void thumbnailReady(const QString &path);
    void updateSpinner();
    void spinnerTick();
    void setDropTargeted(bool targeted);

    Workspace *m_workspace;
    ImportService *m_imports;
    ToolStatus *m_tools;
    WindowState *m_view;
    TaskTableModel *m_model;
    TaskSortProxy *m_proxy;
    TaskRowDelegate *m_delegate;
    ThumbnailCache *m_thumbnails = nullptr;
    DropOverlay *m_dropOverlay;
    FileActions m_fileActions;
    QTimer m_spinner;
    QList<QMetaObject::Connection> m_listConnections;
    // The list is removing rows: the selection model reports the vanished rows, but the state
    // drops those ids itself, and reading 100,000 selected rows per removed run took seconds.
    bool m_listRemoving = false;
    bool m_syncingSelection = false;
    bool m_syncingSort = false;
};
