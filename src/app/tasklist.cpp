#include "tasklist.h"

TaskList::TaskList(ConversionMode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
{
}

const TaskItem *TaskList::find(const QUuid &id) const
{
    const qsizetype row = indexOf(id);
    return row < 0 ? nullptr : &m_items.at(row);
}

void TaskList::append(const QList<TaskItem> &items)
{
    if (items.isEmpty())
        return;
    const qsizetype first = m_items.size();
    Q_EMIT rowsAboutToBeInserted(first, first + items.size() - 1);
    m_items.reserve(first + items.size());
    for (const TaskItem &item : items) {
        m_index.insert(item.id, m_items.size());
        m_items.append(item);
        count(item, +1);
    }
    Q_EMIT rowsInserted(first, m_items.size() - 1);
    Q_EMIT changed();
}

bool TaskList::replace(const TaskItem &item)
{
    const qsizetype row = indexOf(item.id);
    if (row < 0)
        return false;
    count(m_items.at(row), -1);
    m_items[row] = item;
    count(item, +1);
    Q_EMIT rowChanged(row);
    Q_EMIT changed();
    return true;
}

qsizetype TaskList::remove(const QSet<QUuid> &ids)
{
    qsizetype removed = 0;
    for (const QUuid &id : ids)
        removed += m_index.contains(id) ? 1 : 0;
    if (removed == 0)
        return 0;
    // Removal may hit rows all over the list: one reset is cheaper for views than many removals.
    Q_EMIT aboutToBeReset();
    QList<TaskItem> kept;
    kept.reserve(m_items.size() - removed);
    for (const TaskItem &item : std::as_const(m_items)) {
        if (ids.contains(item.id))
            count(item, -1);
        else
            kept.append(item);
    }
    m_items = std::move(kept);
    m_index.clear();
    reindexFrom(0);
    Q_EMIT reset();
    Q_EMIT changed();
    return removed;
}

void TaskList::clear()
{
    if (m_items.isEmpty())
        return;
    Q_EMIT aboutToBeReset();
    m_items.clear();
    m_index.clear();
    m_counts.fill(0);
    m_savedBytes = 0;
    Q_EMIT reset();
    Q_EMIT changed();
}

void TaskList::count(const TaskItem &item, int delta)
{
    m_counts[static_cast<size_t>(item.status)] += delta;
    m_savedBytes += delta * item.savedBytes();
}

void TaskList::reindexFrom(qsizetype row)
{
    for (qsizetype i = row; i < m_items.size(); ++i)
        m_index.insert(m_items.at(i).id, i);
}
