#pragma once

#include "ui/tasksortkeys.h"

#include <QObject>
#include <QSet>
#include <QUuid>

#include <functional>
#include <vector>

class BackgroundSorter;
class TaskList;
class TaskRowOrder;

// One whole-list sort on a worker thread, for TaskSortProxy. It is queued to start from the
// event loop, so its snapshot is never taken halfway through a change, and lands as the rows it
// sorted, renumbered if rows came or went meanwhile, less the jobs that changed since: those and
// rows added since are the rest, for the proxy to place again.
class TaskSortRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskSortRun)

public:
    // What the proxy shows at the start, and how many changes of its rows it has seen.
    struct Start
    {
        const TaskList *tasks = nullptr;
        std::vector<int> rows;
        quint64 structure = 0;
    };
    struct Landed
    {
        std::vector<int> order; // sorted
        std::vector<int> rest;  // not placed
    };

    // shown: what the proxy shows now, its rows only when asked for (once the queued run is
    // due; when it lands only the list and the count matter); landed: the result, when the list
    // is still the one the run started on. The name keys the run made go to order.
    TaskSortRun(TaskRowOrder *order, std::function<Start(bool withRows)> shown, std::function<void(Landed)> landed,
                QObject *parent = nullptr);

    BackgroundSorter *sorter() const { return m_sorter; }
    // True while a run is queued or under way.
    bool isSorting() const;
    // Queues a run; one queued or under way counts no more.
    void queue();
    void stop();
    // A job changed while a run is under way: its place is worked out again when it lands.
    void touch(const QUuid &id) { m_touched.insert(id); }

private:
    void begin(quint64 queued);
    void land(TaskSortKeys::Sorted &result);

    TaskRowOrder *m_order;
    std::function<Start(bool withRows)> m_shown;
    std::function<void(Landed)> m_landed;
    BackgroundSorter *m_sorter;
    quint64 m_queued = 0; // 0: none queued
    quint64 m_lastQueued = 0;
    const TaskList *m_list = nullptr;
    quint64 m_structure = 0;
    std::vector<QUuid> m_ids; // the run's rows' job ids
    QSet<QUuid> m_touched;
};
