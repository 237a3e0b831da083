#pragma once

#include <QCollator>
#include <QSortFilterProxyModel>

class TaskTableModel;
class ThumbnailCache;

// The table's rows in the order of the clicked column, kept sorted as jobs change. Compares the
// jobs themselves (names by a collation key worked out once per job) rather than through
// QVariant, which keeps re-sorting 100,000 rows short. Adds the row thumbnail, from the cache
// only, as the name column's decoration.
class TaskSortProxy final : public QSortFilterProxyModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskSortProxy)

public:
    explicit TaskSortProxy(TaskTableModel *source, ThumbnailCache *thumbnails, QObject *parent = nullptr);

    void setThumbnailCache(ThumbnailCache *thumbnails) { m_thumbnails = thumbnails; }

    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;

private:
    const QCollatorSortKey &nameKey(qsizetype row) const;

    TaskTableModel *m_source;
    ThumbnailCache *m_thumbnails;
    QCollator m_collator;
    // By source row, filled on demand: the list only ever appends between resets.
    mutable QList<QCollatorSortKey> m_nameKeys;
};
