#include "ui/tasksortkeys.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"

#include <algorithm>
#include <numeric>

static_assert(TaskSortKeys::kColumns == TaskTableModel::ColumnCount);

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

int compareNumbers(double a, double b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

} // namespace

TaskSortKeys::TaskSortKeys(int column, Qt::SortOrder order, const QLocale &locale)
    : m_locale(locale)
    , m_names(locale)
{
    if (column >= 0 && column < kColumns)
        m_columns.push_back({column, order == Qt::AscendingOrder});
}

TaskSortKeys TaskSortKeys::resortedBy(int column, Qt::SortOrder order) const
{
    TaskSortKeys keys(column, order, m_locale);
    if (!keys.isSorted())
        return keys;
    for (const SortColumn &before : m_columns) {
        if (before.column != column)
            keys.m_columns.push_back(before);
    }
    return keys;
}

bool TaskSortKeys::takesNames() const
{
    return std::any_of(m_columns.cbegin(), m_columns.cend(),
                       [](const SortColumn &c) { return c.column == TaskTableModel::NameColumn; });
}

qsizetype TaskSortKeys::numberCount() const
{
    return qsizetype(m_columns.size()) - (takesNames() ? 1 : 0);
}

int TaskSortKeys::compare(const Key &a, const Key &b) const
{
    for (const SortColumn &c : m_columns) {
        const int compared = c.column == TaskTableModel::NameColumn
            ? a.name.compare(b.name)
            : compareNumbers(a.numbers[size_t(c.column)], b.numbers[size_t(c.column)]);
        if (compared != 0)
            return c.ascending ? compared : -compared;
    }
    return 0;
}

int TaskSortKeys::compare(const TaskItem &a, const TaskItem &b, const std::function<int()> &compareNames) const
{
    for (const SortColumn &c : m_columns) {
        const int compared = c.column == TaskTableModel::NameColumn
            ? compareNames()
            : compareNumbers(numberOf(a, c.column), numberOf(b, c.column));
        if (compared != 0)
            return c.ascending ? compared : -compared;
    }
    return 0;
}

NameCollation::Key TaskSortKeys::nameKey(const TaskItem &task) const
{
    return m_names.key(task.fileName());
}

TaskSortKeys::Snapshot TaskSortKeys::snapshot(const TaskList &tasks, const std::vector<int> &rows) const
{
    Snapshot snapshot;
    snapshot.rows = rows;
    if (takesNames()) {
        snapshot.names.reserve(rows.size());
        for (const int row : rows)
            snapshot.names.push_back(tasks.at(row).sourceURL);
    }
    snapshot.numbers.reserve(rows.size() * size_t(numberCount()));
    for (const int row : rows) {
        const TaskItem &task = tasks.at(row);
        for (const SortColumn &c : m_columns) {
            if (c.column != TaskTableModel::NameColumn)
                snapshot.numbers.push_back(numberOf(task, c.column));
        }
    }
    return snapshot;
}

TaskSortKeys::Sorted TaskSortKeys::sorted(Snapshot snapshot) const
{
    const size_t count = snapshot.rows.size();
    if (m_columns.empty() || count < 2)
        return {std::move(snapshot.rows), {}};
    // Keys are made once per row rather than twice per comparison; a collation of its own keeps
    // a worker thread off the one the GUI thread uses.
    std::vector<Key> keys(count);
    if (takesNames()) {
        const NameCollation names(m_locale);
        for (size_t i = 0; i < count; ++i)
            keys[i].name = names.key(snapshot.names[i].fileName());
    }
    const size_t stride = size_t(numberCount());
    for (size_t i = 0; i < count; ++i) {
        size_t at = i * stride;
        for (const SortColumn &c : m_columns) {
            if (c.column != TaskTableModel::NameColumn)
                keys[i].numbers[size_t(c.column)] = snapshot.numbers[at++];
        }
    }
    std::vector<int> positions(count);
    std::iota(positions.begin(), positions.end(), 0);
    std::sort(positions.begin(), positions.end(), [&](int a, int b) {
        const int compared = compare(keys[size_t(a)], keys[size_t(b)]);
        return compared != 0 ? compared < 0 : snapshot.rows[size_t(a)] < snapshot.rows[size_t(b)];
    });
    Sorted result;
    result.rows.reserve(count);
    for (const int position : positions)
        result.rows.push_back(snapshot.rows[size_t(position)]);
    if (takesNames()) {
        result.names.reserve(count);
        for (const int position : positions)
            result.names.push_back(std::move(keys[size_t(position)].name));
    }
    return result;
}
