#pragma once

#include "ui/tasksortkeys.h"

#include <optional>
#include <vector>

class TaskList;

// Rows of one job list put in the order of the sort keys: compared, sorted, merged, and rows
// that changed put back in place. Each row's name key is kept once made: under a flood of status
// changes rows tie on the status and are told apart by name, many times each. The list is handed
// to each call, since the table may come to show another.
class TaskRowOrder final
{
public:
    const TaskSortKeys &keys() const { return m_keys; }
    void setKeys(TaskSortKeys keys) { m_keys = std::move(keys); }

    // The kept name keys follow the list's rows.
    void rowsInserted(int first, int count);
    void rowsRemoved(int first, int last);
    void reset(qsizetype count);
    // Keeps a name key a sort run made, unless the row has one already.
    void offerNameKey(qsizetype row, NameCollation::Key &&key);

    // Whether row a belongs before row b; full ties by row.
    bool before(const TaskList &tasks, int a, int b) const;
    // Nothing to do without a list, or while the list's own order is shown.
    void sort(const TaskList *tasks, std::vector<int> &rows) const;
    // Sorted rows merged into a sorted order, after the rows that compare equal to them.
    std::vector<int> merged(const TaskList &tasks, const std::vector<int> &order, const std::vector<int> &rows) const;
    // The shown order (rowOf: each row's place in it, -1 for a row not shown) with the changed
    // rows moved back into place; nothing when each still sits between its neighbours.
    std::optional<std::vector<int>> withChangedRowsPlaced(const TaskList &tasks, const std::vector<int> &shown,
                                                          const std::vector<int> &rowOf, std::vector<int> changed) const;

private:
    const NameCollation::Key &nameKey(const TaskList &tasks, int row) const;

    TaskSortKeys m_keys;
    // By row, the name key once made (m_hasNameKey set).
    mutable std::vector<NameCollation::Key> m_nameKeys;
    mutable std::vector<char> m_hasNameKey;
};
