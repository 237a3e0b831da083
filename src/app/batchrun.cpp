#include "batchrun.h"

#include "appstate.h"
#include "engine/filejob.h"
#include "tasklist.h"

BatchRun::BatchRun(AppState *state, ConversionMode mode, QList<QUuid> queue, int window)
    : QObject(state)
    , m_state(state)
    , m_mode(mode)
    , m_queue(std::move(queue))
    , m_window(window)
{
}

void BatchRun::start()
{
    for (int i = 0; i < m_window; ++i) {
        if (!launchNext())
            break;
    }
    if (m_jobs.isEmpty()) // everything queued vanished from the list: end after this call returns
        QMetaObject::invokeMethod(this, &BatchRun::drainIfDone, Qt::QueuedConnection);
}

void BatchRun::cancel()
{
    m_cancelled = true;
    const QSet<FileJob *> jobs = m_jobs;
    for (FileJob *job : jobs)
        job->cancel();
    if (m_jobs.isEmpty())
        QMetaObject::invokeMethod(this, &BatchRun::drainIfDone, Qt::QueuedConnection);
}

bool BatchRun::launchNext()
{
    const TaskList *list = m_state->tasks(m_mode);
    while (m_next < m_queue.size()) {
        const QUuid id = m_queue.at(m_next++);
        const TaskItem *task = list->find(id);
        // Gone from the list, no longer waiting, or still held by a job of a cancelled batch.
        if (!task || (task->status != TaskStatus::pending && task->status != TaskStatus::failed)
            || m_state->isHeld(id))
            continue;
        FileJob *job = m_state->startJob(this, *task);
        m_jobs.insert(job);
        connect(job, &FileJob::finished, this, [this, job](const TaskItem &final) { onJobFinished(job, final); });
        job->start();
        return true;
    }
    return false;
}

void BatchRun::onJobFinished(FileJob *job, const TaskItem &task)
{
    m_jobs.remove(job);
    m_state->onJobFinished(this, task);
    job->deleteLater();
    if (!m_cancelled)
        launchNext();
    drainIfDone();
}

void BatchRun::drainIfDone()
{
    if (m_drained || !m_jobs.isEmpty())
        return;
    if (!m_cancelled && m_next < m_queue.size())
        return;
    m_drained = true;
    m_state->batchDrained(this);
}
