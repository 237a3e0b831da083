#include "ui/tasksortproxy.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "ui/tasksortrun.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace {

// An insertion of up to this many rows is placed at once, even into a long list.
constexpr qsizetype kPlaceAtOnce = 1000;
// Up to this many separate places get their own insertion or removal signals; beyond, one
// layout change moves them (views pay a pass over all rows for every signal).
constexpr qsizetype kSeparateRuns = 8;
// Beyond this many changed rows, one signal repaints the span they lie in.
constexpr qsizetype kSeparateUpdates = 64;

} // namespace

TaskSortProxy::TaskSortProxy(TaskTableModel *source, QObject *parent)
    : QAbstractProxyModel(parent)
    , m_sourceModel(source)
{
    m_run = new TaskSortRun(
        &m_order,
        [this](bool withRows) {
            TaskSortRun::Start start{list(), {}, m_structure};
            if (withRows) {
                start.rows = m_rows;
                start.rows.insert(start.rows.end(), m_held.cbegin(), m_held.cend());
            }
            return start;
        },
        [this](TaskSortRun::Landed landed) {
            sortRows(landed.rest);
            install(merged(landed.order, landed.rest));
            Q_EMIT sorted();
        },
        this);
    QAbstractProxyModel::setSourceModel(source);
    connect(source, &QAbstractItemModel::dataChanged, this, &TaskSortProxy::sourceDataChanged);
    connect(source, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { sourceRowsInserted(first, last); });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { sourceRowsAboutToBeRemoved(first, last); });
    connect(source, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex &, int first, int last) { sourceRowsRemoved(first, last); });
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, &TaskSortProxy::sourceAboutToBeReset);
    connect(source, &QAbstractItemModel::modelReset, this, &TaskSortProxy::sourceReset);
    connect(source, &QAbstractItemModel::headerDataChanged, this, &QAbstractItemModel::headerDataChanged);
    beginResetModel();
    sourceReset();
}

const TaskList *TaskSortProxy::list() const
{
    return m_sourceModel ? m_sourceModel->list() : nullptr;
}

// ---- the model

QModelIndex TaskSortProxy::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() || row < 0 || size_t(row) >= m_rows.size() || column < 0 || column >= columnCount())
        return {};
    return createIndex(row, column);
}

QModelIndex TaskSortProxy::parent(const QModelIndex &) const
{
    return {};
}

QModelIndex TaskSortProxy::sibling(int row, int column, const QModelIndex &) const
{
    return index(row, column);
}

int TaskSortProxy::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TaskSortProxy::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_sourceModel ? 0 : m_sourceModel->columnCount();
}

bool TaskSortProxy::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() && !m_rows.empty();
}

QModelIndex TaskSortProxy::mapToSource(const QModelIndex &proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this || size_t(proxyIndex.row()) >= m_rows.size()
        || !m_sourceModel)
        return {};
    return m_sourceModel->index(m_rows[size_t(proxyIndex.row())], proxyIndex.column());
}

QModelIndex TaskSortProxy::mapFromSource(const QModelIndex &sourceIndex) const
{
    if (!sourceIndex.isValid() || sourceIndex.model() != m_sourceModel || size_t(sourceIndex.row()) >= m_rowOf.size())
        return {};
    const int row = m_rowOf[size_t(sourceIndex.row())];
    return row < 0 ? QModelIndex() : createIndex(row, sourceIndex.column());
}

QVariant TaskSortProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (!m_sourceModel)
        return {};
    // Columns are the source's own; the base class would look them up through row 0, which an
    // empty table does not have.
    if (orientation == Qt::Horizontal)
        return m_sourceModel->headerData(section, orientation, role);
    if (section < 0 || size_t(section) >= m_rows.size())
        return {};
    return m_sourceModel->headerData(m_rows[size_t(section)], orientation, role);
}

// ---- ordering

void TaskSortProxy::sortRows(std::vector<int> &rows) const
{
    m_order.sort(list(), rows);
}

std::vector<int> TaskSortProxy::merged(const std::vector<int> &order, const std::vector<int> &rows) const
{
    return m_order.merged(*list(), order, rows);
}

void TaskSortProxy::sort(int column, Qt::SortOrder order)
{
    if (column >= columnCount())
        column = -1;
    if (column == sortColumn() && order == sortOrder())
        return;
    m_order.setKeys(m_order.keys().resortedBy(column, order));
    if (!m_order.keys().isSorted()) {
        m_run->stop();
        std::vector<int> all(m_rowOf.size());
        std::iota(all.begin(), all.end(), 0);
        install(std::move(all));
        return;
    }
    sortAll();
}

bool TaskSortProxy::isSorting() const
{
    return m_run->isSorting();
}

BackgroundSorter *TaskSortProxy::sorter() const
{
    return m_run->sorter();
}

void TaskSortProxy::sortAll()
{
    m_changed.clear();
    m_run->stop();
    const TaskList *tasks = list();
    if (!tasks || tasks->size() <= kSortInPlaceRows) {
        std::vector<int> rows = m_rows;
        rows.insert(rows.end(), m_held.cbegin(), m_held.cend());
        sortRows(rows);
        install(std::move(rows));
        return;
    }
    m_run->queue();
}

// ---- putting rows in place

void TaskSortProxy::rebuildRowOf(qsizetype from)
{
    if (from == 0)
        std::fill(m_rowOf.begin(), m_rowOf.end(), -1);
    for (size_t row = size_t(from); row < m_rows.size(); ++row)
        m_rowOf[size_t(m_rows[row])] = int(row);
}

void TaskSortProxy::appendShown(const std::vector<int> &rows)
{
    if (rows.empty())
        return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(rows.size()) - 1);
    for (const int row : rows) {
        m_rowOf[size_t(row)] = int(m_rows.size());
        m_rows.push_back(row);
    }
    endInsertRows();
}

void TaskSortProxy::install(std::vector<int> order)
{
    if (!m_held.empty()) {
        const std::vector<int> held = std::exchange(m_held, {});
        if (m_rows.empty()) {
            if (order.empty())
                return;
            beginInsertRows({}, 0, int(order.size()) - 1);
            m_rows = std::move(order);
            rebuildRowOf();
            endInsertRows();
            return;
        }
        appendShown(held);
    }
    relayout(std::move(order));
}

void TaskSortProxy::relayout(std::vector<int> order)
{
    if (order == m_rows)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList from = persistentIndexList();
    const std::vector<int> previous = std::exchange(m_rows, std::move(order));
    rebuildRowOf();
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex &index : from)
        to.append(createIndex(m_rowOf[size_t(previous[size_t(index.row())])], index.column()));
    changePersistentIndexList(from, to);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::optional<std::vector<int>> TaskSortProxy::orderWithChangedRowsPlaced()
{
    std::vector<int> changed = std::exchange(m_changed, {});
    if (changed.empty() || !m_order.keys().isSorted() || isSorting())
        return std::nullopt;
    return m_order.withChangedRowsPlaced(*list(), m_rows, m_rowOf, std::move(changed));
}

void TaskSortProxy::placeChangedRows()
{
    m_placing = false;
    if (std::optional<std::vector<int>> order = orderWithChangedRowsPlaced())
        relayout(std::move(*order));
}

// ---- following the source

void TaskSortProxy::jobChanged(qsizetype row)
{
    if (isSorting()) {
        m_run->touch(list()->at(row).id);
    } else if (m_order.keys().isSorted()) {
        m_changed.push_back(int(row));
        // Placed once per turn of the event loop: a flood of updates costs one pass, not one each.
        if (!m_placing) {
            m_placing = true;
            QMetaObject::invokeMethod(this, &TaskSortProxy::placeChangedRows, Qt::QueuedConnection);
        }
    }
}

void TaskSortProxy::sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    const TaskList *tasks = list();
    if (!topLeft.isValid() || !bottomRight.isValid() || !tasks)
        return;
    const int first = topLeft.row();
    const int last = std::min(bottomRight.row(), int(m_rowOf.size()) - 1);
    if (first > last)
        return;
    if (last - first < kSeparateUpdates) {
        for (int row = first; row <= last; ++row) {
            if (const int at = m_rowOf[size_t(row)]; at >= 0)
                Q_EMIT dataChanged(index(at, topLeft.column()), index(at, bottomRight.column()));
        }
        return;
    }
    int low = int(m_rows.size());
    int high = -1;
    for (int row = first; row <= last; ++row) {
        if (const int at = m_rowOf[size_t(row)]; at >= 0) {
            low = std::min(low, at);
            high = std::max(high, at);
        }
    }
    if (high >= 0)
        Q_EMIT dataChanged(index(low, topLeft.column()), index(high, bottomRight.column()));
}

void TaskSortProxy::sourceRowsInserted(int first, int last)
{
    const int count = last - first + 1;
    ++m_structure;
    const auto shift = [first, count](std::vector<int> &rows) {
        for (int &row : rows) {
            if (row >= first)
                row += count;
        }
    };
    shift(m_rows);
    shift(m_held);
    shift(m_changed);
    m_rowOf.insert(m_rowOf.begin() + first, size_t(count), -1);
    m_order.rowsInserted(first, count);
    std::vector<int> fresh(static_cast<size_t>(count));
    std::iota(fresh.begin(), fresh.end(), first);

    if (!m_order.keys().isSorted()) {
        appendShown(fresh);
        return;
    }
    const bool small = count <= kPlaceAtOnce || qsizetype(m_rowOf.size()) <= kSortInPlaceRows;
    if (isSorting()) {
        // The sort run under way places them when it lands; a large import joins a new one.
        if (small) {
            appendShown(fresh);
        } else {
            m_held.insert(m_held.end(), fresh.cbegin(), fresh.cend());
            sortAll();
        }
        return;
    }
    if (!small) {
        m_held.insert(m_held.end(), fresh.cbegin(), fresh.cend());
        sortAll();
        return;
    }
    // New rows are placed by binary search: rows that changed must be in place first.
    placeChangedRows();
    sortRows(fresh);
    std::vector<int> order = merged(m_rows, fresh);
    // Where the new rows landed, as runs of neighbours.
    std::vector<std::pair<size_t, size_t>> runs;
    for (size_t at = 0; at < order.size(); ++at) {
        if (m_rowOf[size_t(order[at])] >= 0)
            continue;
        if (!runs.empty() && runs.back().second == at)
            ++runs.back().second;
        else
            runs.emplace_back(at, at + 1);
    }
    if (qsizetype(runs.size()) > kSeparateRuns) {
        appendShown(fresh);
        install(std::move(order));
        return;
    }
    // Earlier runs first: each lands where the final order has it, since all rows before it are in.
    for (const auto &[begin, end] : runs) {
        beginInsertRows({}, int(begin), int(end) - 1);
        m_rows.insert(m_rows.begin() + qsizetype(begin), order.cbegin() + qsizetype(begin),
                      order.cbegin() + qsizetype(end));
        rebuildRowOf(qsizetype(begin));
        endInsertRows();
    }
}

void TaskSortProxy::sourceRowsAboutToBeRemoved(int first, int last)
{
    ++m_structure;
    std::vector<int> going;
    for (int row = first; row <= last; ++row) {
        if (const int at = m_rowOf[size_t(row)]; at >= 0)
            going.push_back(at);
    }
    if (going.empty())
        return;
    std::sort(going.begin(), going.end());
    std::vector<std::pair<int, int>> runs;
    for (const int at : going) {
        if (!runs.empty() && runs.back().second == at - 1)
            runs.back().second = at;
        else
            runs.emplace_back(at, at);
    }
    if (qsizetype(runs.size()) > kSeparateRuns) {
        // Gathered at the end by one layout change, then removed in one piece.
        std::vector<char> leaving(m_rows.size(), 0);
        for (const int at : going)
            leaving[size_t(at)] = 1;
        std::vector<int> order;
        order.reserve(m_rows.size());
        for (size_t at = 0; at < m_rows.size(); ++at) {
            if (!leaving[at])
                order.push_back(m_rows[at]);
        }
        for (const int at : going)
            order.push_back(m_rows[size_t(at)]);
        relayout(std::move(order));
        runs = {{int(m_rows.size() - going.size()), int(m_rows.size()) - 1}};
    }
    // Last run first, so that the rows of the others keep their numbers.
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        beginRemoveRows({}, run->first, run->second);
        for (int at = run->first; at <= run->second; ++at)
            m_rowOf[size_t(m_rows[size_t(at)])] = -1;
        m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->second + 1);
        rebuildRowOf(run->first);
        endRemoveRows();
    }
}

void TaskSortProxy::sourceRowsRemoved(int first, int last)
{
    const int count = last - first + 1;
    m_rowOf.erase(m_rowOf.begin() + first, m_rowOf.begin() + last + 1);
    m_order.rowsRemoved(first, last);
    const auto renumber = [first, last, count](std::vector<int> &rows) {
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row >= first && row <= last; }),
                   rows.end());
        for (int &row : rows) {
            if (row > last)
                row -= count;
        }
    };
    renumber(m_rows);
    renumber(m_held);
    renumber(m_changed);
}

void TaskSortProxy::sourceAboutToBeReset()
{
    beginResetModel();
    // A large removal arrives as a reset of the same list: the order is kept by job id.
    m_resetList = list();
    m_shownIds.clear();
    m_heldIds.clear();
    if (!m_resetList)
        return;
    // Rows still to be placed are placed now, in the order the reset keeps (no signal: the reset
    // tells the views).
    if (std::optional<std::vector<int>> order = orderWithChangedRowsPlaced())
        m_rows = std::move(*order);
    m_shownIds.reserve(qsizetype(m_rows.size()));
    for (const int row : m_rows)
        m_shownIds.append(m_resetList->at(row).id);
    for (const int row : m_held)
        m_heldIds.append(m_resetList->at(row).id);
}

void TaskSortProxy::sourceReset()
{
    const TaskList *tasks = list();
    // Job updates straight from the list, as they happen: the table model holds some back to
    // spare repaints, and a row whose change is not yet known would mislead the binary searches.
    disconnect(m_listConnection);
    if (tasks)
        m_listConnection = connect(tasks, &TaskList::rowChanged, this, &TaskSortProxy::jobChanged);
    const qsizetype count = tasks ? tasks->size() : 0;
    ++m_structure;
    m_changed.clear();
    m_rows.clear();
    m_held.clear();
    m_rowOf.assign(size_t(count), -1);
    m_order.reset(count);
    const bool sameList = tasks && tasks == m_resetList;
    if (!sameList)
        m_run->stop();
    std::vector<char> placed(size_t(count), 0);
    const auto take = [&](const QUuid &id, std::vector<int> &into) {
        const qsizetype row = tasks->indexOf(id);
        if (row >= 0 && !placed[size_t(row)]) {
            placed[size_t(row)] = 1;
            into.push_back(int(row));
        }
    };
    if (sameList) {
        for (const QUuid &id : std::as_const(m_shownIds))
            take(id, m_rows);
        for (const QUuid &id : std::as_const(m_heldIds))
            take(id, m_held);
    }
    m_resetList = nullptr;
    m_shownIds.clear();
    m_heldIds.clear();
    for (qsizetype row = 0; row < count; ++row) {
        if (!placed[size_t(row)])
            m_held.push_back(int(row));
    }

    if (!m_order.keys().isSorted()) {
        std::sort(m_held.begin(), m_held.end());
        m_rows.insert(m_rows.end(), m_held.cbegin(), m_held.cend());
        m_held.clear();
    } else if (!m_held.empty() && (count <= kSortInPlaceRows || qsizetype(m_held.size()) <= kPlaceAtOnce)) {
        std::vector<int> held = std::exchange(m_held, {});
        sortRows(held);
        m_rows = merged(m_rows, held);
    }
    rebuildRowOf();
    endResetModel();
    if (!m_held.empty() && !isSorting())
        sortAll();
}
