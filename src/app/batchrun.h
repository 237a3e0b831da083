#pragma once

#include "model/taskitem.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QUuid>

class AppState;
class FileJob;

// One batch: the queue of job ids it was started with and the window of jobs it keeps in
// flight, refilled one in, one out. Queued jobs are found by id in the live list, so a list
// edited during the batch never leads to a wrong job. A cancelled batch starts nothing more
// and only waits for its jobs to come back.
class BatchRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRun)

public:
    BatchRun(AppState *state, ConversionMode mode, QList<QUuid> queue, int window);

    ConversionMode mode() const { return m_mode; }
    int window() const { return m_window; }
    bool isCancelled() const { return m_cancelled; }
    qsizetype inFlight() const { return m_jobs.size(); }

    void start();
    void cancel();

private:
    bool launchNext();
    void onJobFinished(FileJob *job, const TaskItem &task);
    void drainIfDone();

    AppState *m_state;
    ConversionMode m_mode;
    QList<QUuid> m_queue;
    qsizetype m_next = 0;
    int m_window;
    QSet<FileJob *> m_jobs;
    bool m_cancelled = false;
    bool m_drained = false;
};
