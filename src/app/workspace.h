#pragma once

#include "model/taskitem.h"

#include <QObject>
#include <QSet>
#include <QUuid>

class TaskList;

// The two job lists, which one is shown, the selection, and the edits a user makes to them.
class Workspace final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Workspace)

public:
    explicit Workspace(QObject *parent = nullptr);

    TaskList *compressTasks() const { return m_compressTasks; }
    TaskList *restoreTasks() const { return m_restoreTasks; }
    TaskList *tasks(ConversionMode mode) const;
    ConversionMode activeMode() const { return m_activeMode; }
    TaskList *currentTasks() const { return tasks(m_activeMode); }
    // The shown list's failed jobs that a retry would run again (refused ones never run).
    int failedCount() const;
    const QSet<QUuid> &selectedTaskIds() const { return m_selectedTaskIds; }

    // Shows the other list; the selection is emptied.
    void switchMode(ConversionMode mode);
    void setSelectedTaskIds(const QSet<QUuid> &ids);
    void selectAllTasks();
    // Removes one job from its own list, whichever is shown.
    void removeTask(const TaskItem &task);
    void removeSelectedTasks();
    void clearCurrentTasks();
    // Makes the failed jobs of the shown list pending again, then asks for a batch (retried()).
    void retryFailedTasks();
    // The same for one job of the shown list; false when it is not a failed job that can run.
    bool retryTask(const QUuid &id);

Q_SIGNALS:
    void activeModeChanged();
    void selectedTaskIdsChanged();
    // These jobs are about to leave their list: a running one must stop before its row goes.
    void removing(const QSet<QUuid> &ids);
    // Failed jobs of the shown list wait again.
    void retried();

private:
    void remove(TaskList *list, const QSet<QUuid> &ids);
    bool makePending(TaskList *list, qsizetype row);

    ConversionMode m_activeMode = ConversionMode::jpegToJXL;
    TaskList *m_compressTasks;
    TaskList *m_restoreTasks;
    QSet<QUuid> m_selectedTaskIds;
};
