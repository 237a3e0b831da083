#pragma once

#include "model/taskitem.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>

#include <array>

// The jobs of one direction, in the order they were added, with an id → row index, a path
// index (every job's source and destination, standardized, and the real path of a source reached
// through a symbolic link) and running counts per status, so
// that an update, a look-up, a duplicate check and a progress count cost O(1) however long the
// list grows. Lives on the GUI thread.
class TaskList final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskList)

public:
    explicit TaskList(ConversionMode mode, QObject *parent = nullptr);

    // The form in which paths are compared: dot and dot-dot resolved, links not followed.
    static QString standardizedPath(const QUrl &url);

    ConversionMode mode() const { return m_mode; }
    // Not to be read from inside the removal signals (rows are being compacted then); at() is.
    const QList<TaskItem> &items() const { return m_items; }
    qsizetype size() const { return m_items.size() - m_gapSize; }
    bool isEmpty() const { return size() == 0; }
    const TaskItem &at(qsizetype row) const { return m_items.at(row < m_gapStart ? row : row + m_gapSize); }
    // -1 when no job has that id.
    qsizetype indexOf(const QUuid &id) const { return m_index.value(id, -1); }
    const TaskItem *find(const QUuid &id) const;
    int count(TaskStatus status) const { return m_counts[static_cast<size_t>(status)]; }
    // Of the skipped jobs: those whose JXL would not have been smaller.
    int notSmallerCount() const { return m_notSmaller; }
    // Of the failed jobs: those no retry can mend (TaskItem::isRefused).
    int refusedCount() const { return m_refused; }
    // Sum of savedBytes over the completed jobs.
    qint64 savedBytes() const { return m_savedBytes; }
    // True when a job's source or destination is this standardized path, or a job's source is
    // reached through a symbolic link and this is the real path of the file it reaches.
    bool containsPath(const QString &standardized) const { return m_paths.contains(standardized); }

    // realPaths: by job id, the real path of a source reached through a symbolic link (jobs not
    // named there have none), kept in the path index while the job is listed.
    void append(const QList<TaskItem> &items, const QHash<QUuid, QString> &realPaths = {});
    // Replaces the job with the same id; false (and nothing changes) when it is not in the list.
    bool replace(const TaskItem &item);
    // Removes the jobs with these ids, keeping the order of the rest; returns how many went.
    // Each contiguous run of rows is announced on its own, first run first.
    qsizetype remove(const QSet<QUuid> &ids);
    void clear();

Q_SIGNALS:
    void rowsAboutToBeInserted(qsizetype first, qsizetype last);
    void rowsInserted(qsizetype first, qsizetype last);
    void rowChanged(qsizetype row);
    // Rows as they are numbered at the moment of the signal (earlier runs already gone).
    void rowsAboutToBeRemoved(qsizetype first, qsizetype last);
    void rowsRemoved(qsizetype first, qsizetype last);
    // Any change at all, after the specific signals (once per call).
    void changed();

private:
    void count(const TaskItem &item, int delta);
    void indexPaths(const TaskItem &item, int delta);
    void reindexFrom(qsizetype row);

    ConversionMode m_mode;
    QList<TaskItem> m_items;
    QHash<QUuid, qsizetype> m_index;
    QHash<QString, int> m_paths; // path → how many jobs name it
    QHash<QUuid, QString> m_realPaths; // only the jobs whose source is reached through a link
    std::array<int, 6> m_counts{};
    int m_notSmaller = 0;
    int m_refused = 0;
    qint64 m_savedBytes = 0;
    // While remove() compacts the list, rows from m_gapStart on sit m_gapSize places further on.
    qsizetype m_gapStart = 0;
    qsizetype m_gapSize = 0;
};
