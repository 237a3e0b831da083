#pragma once

#include "ui/tasksortkeys.h"

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

// Sorts a snapshot of a long list on a thread of its own, one sort run at a time. Only the latest
// run lands: starting or cancelling one makes the run before it count no more, on the worker too
// (a run queued behind a newer one never sorts).
class BackgroundSorter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BackgroundSorter)

public:
    // Called on the GUI thread with the snapshot's rows in order (and their name keys).
    using Landing = std::function<void(TaskSortKeys::Sorted &sorted)>;

    explicit BackgroundSorter(QObject *parent = nullptr);
    ~BackgroundSorter() override;

    void start(const TaskSortKeys &keys, TaskSortKeys::Snapshot snapshot, Landing landing);
    void cancel();
    // From start until the run landed or was cancelled.
    bool isRunning() const { return m_run != 0; }

    // While held, a finished run waits instead of landing, and lands once released: a test holds
    // it to act while a sort is under way, however fast the machine sorts.
    void setHeld(bool held);
    bool isHeld() const { return m_held; }

private:
    void arrived(quint64 run, const std::shared_ptr<TaskSortKeys::Sorted> &sorted, const Landing &landing);

    quint64 m_run = 0;
    quint64 m_lastRun = 0;
    std::shared_ptr<std::atomic<quint64>> m_latest = std::make_shared<std::atomic<quint64>>(0);
    bool m_held = false;
    std::function<void()> m_waiting;
};
