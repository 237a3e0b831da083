#pragma once

#include <QList>
#include <QObject>
#include <QUrl>
#include <QUuid>

#include <functional>

class QMenu;
class QWidget;
class TaskTableModel;
class ToolStatus;
class WindowState;
class Workspace;
struct TaskItem;

// What a row of the job table offers, by job id: each action finds its job when it runs (rows
// move as jobs change) and does nothing once the job has left the list. Builds the row menu.
class TaskRowActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskRowActions)

public:
    // How the actions reach the desktop; replaceable so that tests can watch them.
    struct FileActions
    {
        std::function<bool(const QUrl &)> open;
        std::function<void(const QList<QUrl> &)> reveal;
    };

    // rowOf gives the table row that shows a job, for ordering the rows an action copies.
    TaskRowActions(Workspace *workspace, ToolStatus *tools, WindowState *view, TaskTableModel *model, std::function<int(const QUuid &)> rowOf,
                   QObject *parent = nullptr);

    void setFileActions(const FileActions &actions) { m_fileActions = actions; }

    void open(const QUuid &id);
    void reveal(const QUuid &id);
    void preview(const QUuid &id);
    void retry(const QUuid &id);
    void copyPath(const QUuid &id);
    // The path and the reason of each of these jobs that failed, one line each, in table order.
    void copyErrors(const QList<QUuid> &ids);

    // The menu of a job's row, built for its state now; the caller owns it.
    QMenu *makeMenu(const QUuid &id, QWidget *parent = nullptr);

private:
    const TaskItem *task(const QUuid &id) const;
    // The rows an action on this row is about: the selection when the row is part of one.
    QList<QUuid> rowsActedOn(const QUuid &id) const;

    Workspace *m_workspace;
    ToolStatus *m_tools;
    WindowState *m_view;
    TaskTableModel *m_model;
    std::function<int(const QUuid &)> m_rowOf;
    FileActions m_fileActions;
};
