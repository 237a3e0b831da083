#include "ui/tasksortrun.h"

#include "app/tasklist.h"
#include "ui/backgroundsorter.h"
#include "ui/taskroworder.h"

#include <utility>

TaskSortRun::TaskSortRun(TaskRowOrder *order, std::function<Start(bool withRows)> shown,
                         std::function<void(Landed)> landed, QObject *parent)
    : QObject(parent)
    , m_order(order)
    , m_shown(std::move(shown))
    , m_landed(std::move(landed))
    , m_sorter(new BackgroundSorter(this))
{
}

bool TaskSortRun::isSorting() const
{
    return m_queued != 0 || m_sorter->isRunning();
}

void TaskSortRun::queue()
{
    stop();
    m_queued = ++m_lastQueued;
    QMetaObject::invokeMethod(this, [this, queued = m_queued] { begin(queued); }, Qt::QueuedConnection);
}

void TaskSortRun::stop()
{
    m_queued = 0;
    m_sorter->cancel();
    m_ids.clear();
    m_touched.clear();
}

void TaskSortRun::begin(quint64 queued)
{
    if (queued != m_queued)
        return;
    m_queued = 0;
    const Start start = m_shown(true);
    if (!start.tasks)
        return;
    m_touched.clear();
    m_list = start.tasks;
    m_structure = start.structure;
    const size_t count = size_t(start.tasks->size());
    m_ids.clear();
    m_ids.reserve(count);
    for (size_t row = 0; row < count; ++row)
        m_ids.push_back(start.tasks->at(qsizetype(row)).id);
    const TaskSortKeys &keys = m_order->keys();
    m_sorter->start(keys, keys.snapshot(*start.tasks, start.rows), [this](TaskSortKeys::Sorted &result) { land(result); });
}

void TaskSortRun::land(TaskSortKeys::Sorted &result)
{
    const std::vector<int> &sortedRows = result.rows;
    const Start now = m_shown(false);
    const TaskList *tasks = now.tasks;
    const std::vector<QUuid> ids = std::exchange(m_ids, {});
    if (!tasks || tasks != m_list)
        return;
    // The snapshot's rows, renumbered if rows came or went meanwhile; jobs that changed since, and
    // rows added since, are placed again.
    const qsizetype count = tasks->size();
    std::vector<char> placed(size_t(count), 0);
    Landed landed;
    landed.order.reserve(size_t(count));
    const bool sameRows = m_structure == now.structure;
    for (size_t i = 0; i < sortedRows.size(); ++i) {
        const int row = sortedRows[i];
        const qsizetype at = sameRows ? row : tasks->indexOf(ids[size_t(row)]);
        if (at < 0 || at >= count || placed[size_t(at)])
            continue;
        if (i < result.names.size())
            m_order->offerNameKey(at, std::move(result.names[i]));
        if (!m_touched.isEmpty() && m_touched.contains(tasks->at(at).id))
            continue;
        placed[size_t(at)] = 1;
        landed.order.push_back(int(at));
    }
    m_touched.clear();
    for (qsizetype row = 0; row < count; ++row) {
        if (!placed[size_t(row)])
            landed.rest.push_back(int(row));
    }
    m_landed(std::move(landed));
}
