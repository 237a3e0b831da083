#pragma once

#include "model/taskitem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <array>

// The jobs of one direction, in the order they were added, with an id → row index and
// running counts per status, so that an update, a look-up and a progress count cost O(1)
// however long the list grows. Lives on the GUI thread.
class TaskList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskList)

public:
    explicit TaskList(ConversionMode mode, QObject *parent = nullptr);

    ConversionMode mode() const { return m_mode; }
    const QList<TaskItem> &items() const { return m_items; }
    qsizetype size() const { return m_items.size(); }
    bool isEmpty() const { return m_items.isEmpty(); }
    const TaskItem &at(qsizetype row) const { return m_items.at(row); }
    // -1 when no job has that id.
    qsizetype indexOf(const QUuid &id) const { return m_index.value(id, -1); }
    const TaskItem *find(const QUuid &id) const;
    int count(TaskStatus status) const { return m_counts[static_cast<size_t>(status)]; }
    // Sum of savedBytes over all jobs.
    qint64 savedBytes() const { return m_savedBytes; }

    void append(const QList<TaskItem> &items);
    // Replaces the job with the same id; false (and nothing changes) when it is not in the list.
    bool replace(const TaskItem &item);
    // Removes the jobs with these ids, keeping the order of the rest; returns how many went.
    qsizetype remove(const QSet<QUuid> &ids);
    void clear();

Q_SIGNALS:
    void rowsAboutToBeInserted(qsizetype first, qsizetype last);
    void rowsInserted(qsizetype first, qsizetype last);
    void rowChanged(qsizetype row);
    void aboutToBeReset();
    void reset();
    // Any change at all, after the specific signal.
    void changed();

private:
    void count(const TaskItem &item, int delta);
    void reindexFrom(qsizetype row);

    ConversionMode m_mode;
    QList<TaskItem> m_items;
    QHash<QUuid, qsizetype> m_index;
    std::array<int, 6> m_counts{};
    qint64 m_savedBytes = 0;
};
