#include "ui/tasksortkeys.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"

#include <algorithm>
#include <numeric>

namespace {

double numberOf(const TaskItem &task, int column)
{
    switch (TaskTableModel::Column(column)) {
    case TaskTableModel::OriginalSizeColumn:
        return double(task.originalSize);
    case TaskTableModel::ResultSizeColumn:
        return double(task.compressedSizeOrZero());
    case TaskTableModel::SavingsColumn:
        return task.savingsRatio();
    case TaskTableModel::StatusColumn:
        return sortRank(task.status);
    case TaskTableModel::NameColumn:
    case TaskTableModel::ColumnCount:
        break;
    }
    return 0;
}

} // namespace

TaskSortKeys::TaskSortKeys(int column, Qt::SortOrder order, const QLocale &locale)
    : m_column(column >= 0 && column < TaskTableModel::ColumnCount ? column : -1)
    , m_ascending(order == Qt::AscendingOrder)
    , m_locale(locale)
    , m_names(locale)
{
}

TaskSortKeys::Key TaskSortKeys::keyOf(const TaskItem &task) const
{
    Key key;
    if (m_column == TaskTableModel::NameColumn)
        key.name = m_names.key(task.fileName());
    else
        key.number = numberOf(task, m_column);
    return key;
}

int TaskSortKeys::compare(const Key &a, const Key &b) const
{
    int compared = 0;
    if (m_column == TaskTableModel::NameColumn)
        compared = a.name.compare(b.name);
    else if (m_column >= 0)
        compared = a.number < b.number ? -1 : (b.number < a.number ? 1 : 0);
    return m_ascending ? compared : -compared;
}

int TaskSortKeys::compare(const TaskItem &a, const TaskItem &b) const
{
    int compared = 0;
    if (m_column == TaskTableModel::NameColumn) {
        compared = m_names.compare(a.fileName(), b.fileName());
    } else if (m_column >= 0) {
        const double first = numberOf(a, m_column);
        const double second = numberOf(b, m_column);
        compared = first < second ? -1 : (second < first ? 1 : 0);
    }
    return m_ascending ? compared : -compared;
}

TaskSortKeys::Snapshot TaskSortKeys::snapshot(const TaskList &tasks, const std::vector<int> &rows) const
{
    Snapshot snapshot;
    snapshot.rows = rows;
    if (m_column == TaskTableModel::NameColumn) {
        snapshot.names.reserve(rows.size());
        for (const int row : rows)
            snapshot.names.push_back(tasks.at(row).sourceURL);
    } else if (m_column >= 0) {
        snapshot.numbers.reserve(rows.size());
        for (const int row : rows)
            snapshot.numbers.push_back(numberOf(tasks.at(row), m_column));
    }
    return snapshot;
}

std::vector<int> TaskSortKeys::sorted(Snapshot snapshot) const
{
    const size_t count = snapshot.rows.size();
    if (m_column < 0 || count < 2)
        return std::move(snapshot.rows);
    // Keys are made once per row rather than twice per comparison; a collation of its own keeps
    // a worker thread off the one the GUI thread uses.
    std::vector<Key> keys(count);
    if (m_column == TaskTableModel::NameColumn) {
        const NameCollation names(m_locale);
        for (size_t i = 0; i < count; ++i)
            keys[i].name = names.key(snapshot.names[i].fileName());
    } else {
        for (size_t i = 0; i < count; ++i)
            keys[i].number = snapshot.numbers[i];
    }
    std::vector<int> positions(count);
    std::iota(positions.begin(), positions.end(), 0);
    std::stable_sort(positions.begin(), positions.end(),
                     [&](int a, int b) { return compare(keys[size_t(a)], keys[size_t(b)]) < 0; });
    std::vector<int> order;
    order.reserve(count);
    for (const int position : positions)
        order.push_back(snapshot.rows[size_t(position)]);
    return order;
}
