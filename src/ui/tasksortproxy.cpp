#include "ui/tasksortproxy.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "ui/thumbnailcache.h"

TaskSortProxy::TaskSortProxy(TaskTableModel *source, ThumbnailCache *thumbnails, QObject *parent)
    : QSortFilterProxyModel(parent)
    , m_source(source)
    , m_thumbnails(thumbnails)
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    setSourceModel(source);
    setSortRole(TaskTableModel::SortRole);
    setDynamicSortFilter(true);
    // Keys follow the rows: a removed run takes its keys along, a reset all of them.
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_nameKeys.clear(); });
    connect(source, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this](const QModelIndex &, int first, int last) {
        if (first < m_nameKeys.size())
            m_nameKeys.remove(first, std::min<qsizetype>(last + 1, m_nameKeys.size()) - first);
    });
}

const QCollatorSortKey &TaskSortProxy::nameKey(qsizetype row) const
{
    if (row >= m_nameKeys.size()) {
        const TaskList *list = m_source->list();
        m_nameKeys.reserve(list->size());
        for (qsizetype next = m_nameKeys.size(); next < list->size(); ++next)
            m_nameKeys.append(m_collator.sortKey(list->at(next).fileName()));
    }
    return m_nameKeys.at(row);
}

bool TaskSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const TaskList *list = m_source->list();
    if (!list)
        return false;
    const TaskItem &a = list->at(left.row());
    const TaskItem &b = list->at(right.row());
    switch (TaskTableModel::Column(left.column())) {
    case TaskTableModel::NameColumn:
        return nameKey(left.row()).compare(nameKey(right.row())) < 0;
    case TaskTableModel::OriginalSizeColumn:
        return a.originalSize < b.originalSize;
    case TaskTableModel::ResultSizeColumn:
        return a.compressedSizeOrZero() < b.compressedSizeOrZero();
    case TaskTableModel::SavingsColumn:
        return a.savingsRatio() < b.savingsRatio();
    case TaskTableModel::StatusColumn:
        return a.status < b.status;
    case TaskTableModel::ColumnCount:
        break;
    }
    return false;
}

QVariant TaskSortProxy::data(const QModelIndex &index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == TaskTableModel::NameColumn && m_thumbnails) {
        const QUrl file = index.data(TaskTableModel::ShownFileRole).toUrl();
        const QImage image = m_thumbnails->image(file.toLocalFile());
        return image.isNull() ? QVariant() : QVariant(image);
    }
    return QSortFilterProxyModel::data(index, role);
}
