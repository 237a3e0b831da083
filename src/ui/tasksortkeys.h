#pragma once

#include "ui/namecollation.h"

#include <QLocale>
#include <QUrl>

#include <array>
#include <functional>
#include <vector>

class TaskList;
struct TaskItem;

// The order of jobs by the clicked column, the one order for everything that sorts jobs: a
// whole-list sort (on a worker thread, from a snapshot) compares the keys made here, the placing of
// single rows compares two jobs as their keys would. Rows that tie on the clicked column keep the
// order the column clicked before gave them, and so on back to the list's own order: a job whose
// status changes finds the same place among its new status as a fresh sort would give it.
class TaskSortKeys final
{
public:
    static constexpr int kColumns = 5; // the table's columns

    // What a sort run needs of each row, taken on the GUI thread without working anything out:
    // sharing the list instead would have the next job update copy all of it.
    struct Snapshot
    {
        std::vector<int> rows;
        std::vector<QUrl> names;     // when the order takes names
        std::vector<double> numbers; // per row, one for each other column the order takes
    };

    // Column -1 is the list's own order.
    explicit TaskSortKeys(int column = -1, Qt::SortOrder order = Qt::AscendingOrder,
                          const QLocale &locale = QLocale());

    // The order after a click on column: its ties are left in this order.
    TaskSortKeys resortedBy(int column, Qt::SortOrder order) const;

    int column() const { return m_columns.empty() ? -1 : m_columns.front().column; }
    Qt::SortOrder order() const
    {
        return m_columns.empty() || m_columns.front().ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
    }
    bool isSorted() const { return !m_columns.empty(); }

    // Negative when a belongs before b, zero when only their rows in the list can tell. Their
    // names, where the order takes them, are compared by the caller, which keeps their keys.
    int compare(const TaskItem &a, const TaskItem &b, const std::function<int()> &compareNames) const;
    NameCollation::Key nameKey(const TaskItem &task) const;

    // A sort's result: the rows in order and, when the order takes names, their name keys in
    // the same order, worth keeping for the comparisons to come.
    struct Sorted
    {
        std::vector<int> rows;
        std::vector<NameCollation::Key> names;
    };

    Snapshot snapshot(const TaskList &tasks, const std::vector<int> &rows) const;
    // The snapshot's rows in order, full ties by row. Works on any thread: the keys are made by
    // the caller, and the name collation is the caller's own.
    Sorted sorted(Snapshot snapshot) const;

private:
    struct SortColumn
    {
        int column;
        bool ascending;
    };
    // A job's place in the order, worked out once per row of a whole-list sort.
    struct Key
    {
        NameCollation::Key name;
        std::array<double, kColumns> numbers{}; // by column
    };

    int compare(const Key &a, const Key &b) const;
    bool takesNames() const;
    qsizetype numberCount() const;

    std::vector<SortColumn> m_columns; // the clicked one first
    QLocale m_locale;
    NameCollation m_names;
};
