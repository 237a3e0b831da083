#include "tasktablemodel.h"

#include "model/formattedbytes.h"
#include "tasklist.h"

TaskTableModel::TaskTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void TaskTableModel::setList(TaskList *list)
{
    beginResetModel();
    if (m_list)
        m_list->disconnect(this);
    m_list = list;
    if (m_list) {
        connect(m_list, &TaskList::rowsAboutToBeInserted, this,
                [this](qsizetype first, qsizetype last) { beginInsertRows({}, int(first), int(last)); });
        connect(m_list, &TaskList::rowsInserted, this, [this] { endInsertRows(); });
        connect(m_list, &TaskList::rowChanged, this, [this](qsizetype row) {
            Q_EMIT dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1));
        });
        connect(m_list, &TaskList::rowsAboutToBeRemoved, this,
                [this](qsizetype first, qsizetype last) { beginRemoveRows({}, int(first), int(last)); });
        connect(m_list, &TaskList::rowsRemoved, this, [this] { endRemoveRows(); });
    }
    endResetModel();
}

int TaskTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_list ? 0 : int(m_list->size());
}

int TaskTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_list || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TaskItem &task = m_list->at(index.row());
    const bool done = task.status == TaskStatus::completed;
    switch (role) {
    case IdRole:
        return task.id;
    case TaskStatusRole:
        return int(task.status);
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return task.sourcePathText();
        if (index.column() == StatusColumn && task.errorMessage)
            return *task.errorMessage;
        return {};
    case SortRole:
        switch (Column(index.column())) {
        case NameColumn:
            return task.fileName();
        case OriginalSizeColumn:
            return task.originalSize;
        case ResultSizeColumn:
            return task.compressedSizeOrZero();
        case SavingsColumn:
            return task.savingsRatio();
        case StatusColumn:
            return sortRank(task.status);
        case ColumnCount:
            break;
        }
        return {};
    case Qt::DisplayRole:
        switch (Column(index.column())) {
        case NameColumn:
            return task.fileName();
        case OriginalSizeColumn:
            return formattedBytes(task.originalSize);
        case ResultSizeColumn:
            return done && task.compressedSize ? formattedBytes(*task.compressedSize) : QStringLiteral("-");
        case SavingsColumn:
            if (!done)
                return QStringLiteral("-");
            if (task.mode == ConversionMode::jxlToJPEG)
                return QStringLiteral("100% 完整复原");
            return task.savedBytes() >= 1 ? QStringLiteral("\u2212%1%").arg(task.savingsRatio(), 0, 'f', 1)
                                          : QStringLiteral("-");
        case StatusColumn:
            return rawValue(task.status);
        case ColumnCount:
            break;
        }
        return {};
    default:
        return {};
    }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    const bool restoring = m_list && m_list->mode() == ConversionMode::jxlToJPEG;
    switch (Column(section)) {
    case NameColumn:
        return QStringLiteral("名称");
    case OriginalSizeColumn:
        return QStringLiteral("原始大小");
    case ResultSizeColumn:
        return restoring ? QStringLiteral("还原后大小") : QStringLiteral("压缩后大小");
    case SavingsColumn:
        return restoring ? QStringLiteral("复原效果") : QStringLiteral("节省幅度");
    case StatusColumn:
        return QStringLiteral("状态");
    case ColumnCount:
        break;
    }
    return {};
}
