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
    // Keys of jobs that left the list would pile up over a long session.
    connect(source, &QAbstractItemModel::modelReset, this, [this] {
        if (!m_source->list() || m_source->list()->isEmpty())
            m_nameKeys.clear();
    });
}

const QCollatorSortKey &TaskSortProxy::nameKey(qsizetype row) const
{
    const TaskItem &task = m_source->list()->at(row);
    auto it = m_nameKeys.find(task.id);
    if (it == m_nameKeys.end())
        it = m_nameKeys.insert(task.id, m_collator.sortKey(task.fileName()));
    return *it;
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
