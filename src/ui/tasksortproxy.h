#pragma once

#include "ui/taskroworder.h"
#include "ui/tasksortkeys.h"

#include <QAbstractProxyModel>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <optional>
#include <vector>

class BackgroundSorter;
class TaskSortRun;
class TaskList;
class TaskTableModel;

// The table's rows in the order of the clicked column, kept sorted as jobs change, without ever
// holding up the GUI thread for long: a whole-list sort of a long list (a new sort column, a large
// import, another list shown) is a sort run on a worker thread, put in place in one layout change;
// rows that changed meanwhile are placed again when it lands. Until then the previous order stays,
// and rows of a large import are not shown. Small changes are placed at once. Ties keep the order
// they had, as with a stable sort, also for a job whose value changes (see TaskSortKeys).
class TaskSortProxy final : public QAbstractProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskSortProxy)

public:
    // Lists up to this long are sorted at once on the GUI thread.
    static constexpr int kSortInPlaceRows = 10000;

    explicit TaskSortProxy(TaskTableModel *source, QObject *parent = nullptr);

    int sortColumn() const { return m_order.keys().column(); }
    Qt::SortOrder sortOrder() const { return m_order.keys().order(); }
    // True while a sort run is queued or under way.
    bool isSorting() const;
    BackgroundSorter *sorter() const;

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    QModelIndex sibling(int row, int column, const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

Q_SIGNALS:
    // A sort run landed: its order is in place.
    void sorted();

private:
    const TaskList *list() const;
    void sortRows(std::vector<int> &rows) const;
    // Merges sorted rows into a sorted order, after the rows that compare equal to them.
    std::vector<int> merged(const std::vector<int> &order, const std::vector<int> &rows) const;

    void sourceDataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight);
    void jobChanged(qsizetype row);
    void sourceRowsInserted(int first, int last);
    void sourceRowsAboutToBeRemoved(int first, int last);
    void sourceRowsRemoved(int first, int last);
    void sourceAboutToBeReset();
    void sourceReset();

    // Sorts every row now, or in a sort run when the list is long.
    void sortAll();
    // Shows this order of all source rows, exposing rows not yet shown.
    void install(std::vector<int> order);
    // Shows the shown rows in this order, in one layout change.
    void relayout(std::vector<int> order);
    void appendShown(const std::vector<int> &rows);
    void rebuildRowOf(qsizetype from = 0);
    // Moves rows that changed out of order back into place.
    void placeChangedRows();
    std::optional<std::vector<int>> orderWithChangedRowsPlaced();

    QPointer<TaskTableModel> m_sourceModel;
    TaskRowOrder m_order;
    TaskSortRun *m_run;

    std::vector<int> m_rows;  // proxy row → source row
    std::vector<int> m_rowOf; // source row → proxy row, -1 while not shown
    std::vector<int> m_held;  // source rows of a large import, shown once sorted

    // Rows whose job changed since the last check of their place, by source row.
    std::vector<int> m_changed;
    QMetaObject::Connection m_listConnection;
    bool m_placing = false;

    quint64 m_structure = 0; // bumped by every insertion, removal and reset

    // The order across a reset of the same list (a large removal), by job id.
    const TaskList *m_resetList = nullptr;
    QList<QUuid> m_shownIds;
    QList<QUuid> m_heldIds;
};
