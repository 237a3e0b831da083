#pragma once

#include "ui/namecollation.h"

#include <QLocale>
#include <QUrl>

#include <vector>

class TaskList;
struct TaskItem;

// The order of jobs by one column of the table, the one order for everything that sorts jobs: a
// whole-list sort (on a worker thread, from a snapshot) compares the keys made here, the placing of
// single rows compares two jobs as their keys would. Ties are the callers' to keep in the order
// the rows had.
class TaskSortKeys final
{
public:
    // A job's place in the column's order.
    struct Key
    {
        NameCollation::Key name; // the name column
        double number = 0;       // every other column
    };
    // What a sort run needs of each row, taken on the GUI thread without working anything out:
    // sharing the list instead would have the next job update copy all of it.
    struct Snapshot
    {
        std::vector<int> rows;
        std::vector<QUrl> names;
        std::vector<double> numbers;
    };

    // Column -1 is the list's own order.
    explicit TaskSortKeys(int column = -1, Qt::SortOrder order = Qt::AscendingOrder,
                          const QLocale &locale = QLocale());

    int column() const { return m_column; }
    Qt::SortOrder order() const { return m_ascending ? Qt::AscendingOrder : Qt::DescendingOrder; }
    bool isSorted() const { return m_column >= 0; }

    Key keyOf(const TaskItem &task) const;
    // The comparison, direction included: negative when a belongs before b, zero for a tie. Two
    // jobs compare as their keys do; the keys are not kept for a single comparison.
    int compare(const Key &a, const Key &b) const;
    int compare(const TaskItem &a, const TaskItem &b) const;
    bool before(const TaskItem &a, const TaskItem &b) const { return compare(a, b) < 0; }

    Snapshot snapshot(const TaskList &tasks, const std::vector<int> &rows) const;
    // The snapshot's rows in order, ties in the order given. Works on any thread: the keys are
    // made (and freed) by the caller, and the name collation is the caller's own.
    std::vector<int> sorted(Snapshot snapshot) const;
    std::vector<int> sorted(const TaskList &tasks, const std::vector<int> &rows) const
    {
        return sorted(snapshot(tasks, rows));
    }

private:
    int m_column;
    bool m_ascending;
    QLocale m_locale;
    NameCollation m_names;
};
