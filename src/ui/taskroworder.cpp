#include "ui/taskroworder.h"

#include "app/tasklist.h"

#include <algorithm>
#include <iterator>

void TaskRowOrder::rowsInserted(int first, int count)
{
    m_nameKeys.insert(m_nameKeys.begin() + first, size_t(count), NameCollation::Key());
    m_hasNameKey.insert(m_hasNameKey.begin() + first, size_t(count), 0);
}

void TaskRowOrder::rowsRemoved(int first, int last)
{
    m_nameKeys.erase(m_nameKeys.begin() + first, m_nameKeys.begin() + last + 1);
    m_hasNameKey.erase(m_hasNameKey.begin() + first, m_hasNameKey.begin() + last + 1);
}

void TaskRowOrder::reset(qsizetype count)
{
    m_nameKeys.assign(size_t(count), NameCollation::Key());
    m_hasNameKey.assign(size_t(count), 0);
}

void TaskRowOrder::offerNameKey(qsizetype row, NameCollation::Key &&key)
{
    if (m_hasNameKey[size_t(row)])
        return;
    m_nameKeys[size_t(row)] = std::move(key);
    m_hasNameKey[size_t(row)] = 1;
}

const NameCollation::Key &TaskRowOrder::nameKey(const TaskList &tasks, int row) const
{
    if (!m_hasNameKey[size_t(row)]) {
        m_nameKeys[size_t(row)] = m_keys.nameKey(tasks.at(row));
        m_hasNameKey[size_t(row)] = 1;
    }
    return m_nameKeys[size_t(row)];
}

bool TaskRowOrder::before(const TaskList &tasks, int a, int b) const
{
    const int compared =
        m_keys.compare(tasks.at(a), tasks.at(b), [&] { return nameKey(tasks, a).compare(nameKey(tasks, b)); });
    return compared != 0 ? compared < 0 : a < b;
}

void TaskRowOrder::sort(const TaskList *tasks, std::vector<int> &rows) const
{
    if (!tasks || !m_keys.isSorted() || rows.size() < 2)
        return;
    // On the GUI thread the name keys made are kept for the comparisons to come.
    std::sort(rows.begin(), rows.end(), [&](int a, int b) { return before(*tasks, a, b); });
}

std::vector<int> TaskRowOrder::merged(const TaskList &tasks, const std::vector<int> &order,
                                      const std::vector<int> &rows) const
{
    std::vector<int> out;
    out.reserve(order.size() + rows.size());
    const auto comesFirst = [&](int a, int b) { return before(tasks, a, b); };
    if (rows.size() * 16 > order.size()) {
        // std::merge takes from the first range on ties: the rows already placed stay first.
        std::merge(order.cbegin(), order.cend(), rows.cbegin(), rows.cend(), std::back_inserter(out), comesFirst);
        return out;
    }
    // A few rows into a long order: a binary search each instead of a comparison per row.
    auto from = order.cbegin();
    for (const int row : rows) {
        const auto at = std::upper_bound(from, order.cend(), row, comesFirst);
        out.insert(out.end(), from, at);
        out.push_back(row);
        from = at;
    }
    out.insert(out.end(), from, order.cend());
    return out;
}

std::optional<std::vector<int>> TaskRowOrder::withChangedRowsPlaced(const TaskList &tasks, const std::vector<int> &shown,
                                                                    const std::vector<int> &rowOf,
                                                                    std::vector<int> changed) const
{
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    const auto hidden = [&](int row) { return size_t(row) >= rowOf.size() || rowOf[size_t(row)] < 0; };
    changed.erase(std::remove_if(changed.begin(), changed.end(), hidden), changed.end());
    // The order holds as long as every changed row still sits between its neighbours.
    const size_t count = shown.size();
    const bool inPlace = std::all_of(changed.cbegin(), changed.cend(), [&](int row) {
        const size_t at = size_t(rowOf[size_t(row)]);
        return !(at > 0 && before(tasks, row, shown[at - 1])) && !(at + 1 < count && before(tasks, shown[at + 1], row));
    });
    if (inPlace)
        return std::nullopt;
    // Out they all go, in the order they stood (so that ties keep it), and back in sorted.
    std::sort(changed.begin(), changed.end(), [&](int a, int b) { return rowOf[size_t(a)] < rowOf[size_t(b)]; });
    std::vector<char> moving(rowOf.size(), 0);
    for (const int row : changed)
        moving[size_t(row)] = 1;
    std::vector<int> staying;
    staying.reserve(count);
    std::copy_if(shown.cbegin(), shown.cend(), std::back_inserter(staying), [&](int row) { return !moving[size_t(row)]; });
    sort(&tasks, changed);
    return merged(tasks, staying, changed);
}
