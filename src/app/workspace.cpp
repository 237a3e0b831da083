#include "workspace.h"

#include "tasklist.h"

Workspace::Workspace(QObject *parent)
    : QObject(parent)
    , m_compressTasks(new TaskList(ConversionMode::jpegToJXL, this))
    , m_restoreTasks(new TaskList(ConversionMode::jxlToJPEG, this))
{
}

TaskList *Workspace::tasks(ConversionMode mode) const
{
    return mode == ConversionMode::jpegToJXL ? m_compressTasks : m_restoreTasks;
}

int Workspace::failedCount() const
{
    return currentTasks()->count(TaskStatus::failed) - currentTasks()->refusedCount();
}

void Workspace::switchMode(ConversionMode mode)
{
    if (mode == m_activeMode)
        return;
    m_activeMode = mode;
    Q_EMIT activeModeChanged();
    setSelectedTaskIds({});
}

void Workspace::setSelectedTaskIds(const QSet<QUuid> &ids)
{
    if (ids == m_selectedTaskIds)
        return;
    m_selectedTaskIds = ids;
    Q_EMIT selectedTaskIdsChanged();
}

void Workspace::selectAllTasks()
{
    QSet<QUuid> ids;
    ids.reserve(currentTasks()->size());
    for (const TaskItem &task : currentTasks()->items())
        ids.insert(task.id);
    setSelectedTaskIds(ids);
}

void Workspace::remove(TaskList *list, const QSet<QUuid> &ids)
{
    // A removed job must not go on to trash or delete an original the user no longer sees.
    if (!ids.isEmpty())
        Q_EMIT removing(ids);
    list->remove(ids);
}

void Workspace::removeTask(const TaskItem &task)
{
    if (m_selectedTaskIds.remove(task.id))
        Q_EMIT selectedTaskIdsChanged();
    TaskList *list = tasks(task.mode);
    remove(list, list->find(task.id) ? QSet<QUuid>{task.id} : QSet<QUuid>{});
}

void Workspace::removeSelectedTasks()
{
    if (m_selectedTaskIds.isEmpty())
        return;
    QSet<QUuid> ids;
    for (const QUuid &id : std::as_const(m_selectedTaskIds)) {
        if (currentTasks()->find(id))
            ids.insert(id);
    }
    remove(currentTasks(), ids);
    setSelectedTaskIds({});
}

void Workspace::clearCurrentTasks()
{
    setSelectedTaskIds({});
    QSet<QUuid> ids;
    for (const TaskItem &task : currentTasks()->items())
        ids.insert(task.id);
    if (!ids.isEmpty())
        Q_EMIT removing(ids);
    currentTasks()->clear();
}

bool Workspace::makePending(TaskList *list, qsizetype row)
{
    // A refused job stays failed: no retry can make it safe.
    if (list->at(row).status != TaskStatus::failed || list->at(row).isRefused())
        return false;
    TaskItem task = list->at(row);
    task.status = TaskStatus::pending;
    task.errorMessage.reset();
    list->replace(task);
    return true;
}

void Workspace::retryFailedTasks()
{
    TaskList *list = currentTasks();
    const qsizetype count = list->size();
    for (qsizetype row = 0; row < count; ++row)
        makePending(list, row);
    Q_EMIT retried();
}

bool Workspace::retryTask(const QUuid &id)
{
    TaskList *list = currentTasks();
    const qsizetype row = list->indexOf(id);
    if (row < 0 || !makePending(list, row))
        return false;
    Q_EMIT retried();
    return true;
}
