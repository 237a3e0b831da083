#pragma once

#include <QList>

#include <optional>

struct TaskItem;

// How far a batch has come: its jobs and bytes done of the total, and the time left at the pace
// of the last minute rather than of its first photos. Times are milliseconds on a steady clock.
class BatchProgress final
{
public:
    // The first jobs start now.
    void begin(qint64 now) { m_startedAt = now; }
    // A job joins the batch's work.
    void add(qint64 size);
    // A job leaves the batch's work without running to an end (stopped, gone from the list).
    void remove(qint64 size);
    // A job of the batch ended: done when it completed, failed or was skipped; else it was
    // stopped by hand and no longer belongs to the batch's work.
    void jobEnded(const TaskItem &task, qint64 size, qint64 now);

    int done() const { return m_done; }
    // Of the done ones: jobs that found their output made by a former run and left it as it was.
    int skipped() const { return m_skipped; }
    // Of the done ones: jobs whose JXL would not have been smaller, so none was kept.
    int notSmaller() const { return m_notSmaller; }
    int total() const { return m_total; }
    qint64 bytesDone() const { return m_bytesDone; }
    qint64 bytesTotal() const { return m_bytesTotal; }
    // From the jobs finished per second over the last minute. Nothing until two have finished.
    std::optional<qint64> remainingSeconds(qint64 now) const;

private:
    int m_done = 0;
    int m_skipped = 0;
    int m_notSmaller = 0;
    int m_total = 0;
    qint64 m_bytesDone = 0;
    qint64 m_bytesTotal = 0;
    qint64 m_startedAt = 0;
    QList<qint64> m_recentFinishes; // the times of the jobs finished in the last minute
};
