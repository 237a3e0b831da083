#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>

class TaskList;
struct TaskItem;

// The jobs of one list as table rows. A job update repaints its own row only; sorting is left
// to a proxy. SortRole gives a cell's raw value (not its display text).
class TaskTableModel final : public QAbstractTableModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskTableModel)

public:
    enum Column { NameColumn, OriginalSizeColumn, ResultSizeColumn, SavingsColumn, StatusColumn, ColumnCount };
    enum Role {
        SortRole = Qt::UserRole + 1,
        IdRole,
        TaskStatusRole,
        // The file the row's actions and thumbnail are about (QUrl): the output once the job
        // completed, else the source (a failed job's destination may name someone else's file).
        ShownFileRole,
        // The status cell's second text, "· 1.25s" for a finished job; empty otherwise.
        StatusDetailRole,
        // What went wrong after a successful conversion (the original was not disposed of).
        WarningRole,
        // ConversionMode of the list, as int.
        ModeRole,
        // Where other rows have the same file name: the end of the folder path that tells this
        // row apart from them ("2019/summer"); empty otherwise.
        FolderHintRole,
    };

    explicit TaskTableModel(QObject *parent = nullptr);

    // Shows another list (the window switches direction); nullptr shows none.
    void setList(TaskList *list);
    TaskList *list() const { return m_list; }

    // The file a job's open, reveal, preview and thumbnail use (see ShownFileRole).
    static QUrl shownFile(const TaskItem &task);
    // Only a finished job with an output can be dragged out of the window.
    static bool isDraggable(const TaskItem &task);
    // The texts a cell of the column can show, file names aside: the widest of them sizes it.
    static QStringList cellTexts(Column column);
    // Updates wait to be announced together.
    bool isHoldingUpdates() const { return !m_changedIds.isEmpty(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    Qt::DropActions supportedDragActions() const override;

private:
    void rowChanged(qsizetype row);
    void rowsAboutToGo(qsizetype first, qsizetype last);
    void flushChangedRows();
    // Keeps m_sameName in step with rows coming and going; the rows whose folder hint changes
    // are repainted with the next announced updates.
    void nameRows(qsizetype first, qsizetype last, bool adding);
    QString folderHint(const TaskItem &task) const;

    QPointer<TaskList> m_list;
    // Updates that arrive while the previous one is still fresh wait here (by id, so that rows
    // inserted or removed meanwhile cannot misdirect them) and are announced together.
    QSet<QUuid> m_changedIds;
    QTimer m_coalesce;
    int m_removedRuns = 0; // runs of the removal under way
    bool m_resettingForRemoval = false;
    // The jobs of each file name (a job's source never changes), and the hints worked out for
    // rows on screen since their names last came or went.
    QHash<QString, QList<QUuid>> m_sameName;
    mutable QHash<QUuid, QString> m_folderHints;
};
