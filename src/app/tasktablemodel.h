#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class TaskList;

// The jobs of one list as table rows. A job update repaints its own row only; sorting is
// left to a proxy that sorts on SortRole (raw values, not display texts).
class TaskTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskTableModel)

public:
    enum Column { NameColumn, OriginalSizeColumn, ResultSizeColumn, SavingsColumn, StatusColumn, ColumnCount };
    enum Role { SortRole = Qt::UserRole + 1, IdRole, TaskStatusRole };

    explicit TaskTableModel(QObject *parent = nullptr);

    // Shows another list (the window switches direction); nullptr shows none.
    void setList(TaskList *list);
    TaskList *list() const { return m_list; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QPointer<TaskList> m_list;
};
