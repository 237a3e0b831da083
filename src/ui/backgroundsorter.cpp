#include "ui/backgroundsorter.h"

#include "engine/whenready.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QtConcurrent>

#include <utility>

namespace {

// Sort runs go here rather than on the global pool, which a batch keeps busy hashing.
QThreadPool *sortPool()
{
    static QThreadPool *pool = [] {
        auto *created = new QThreadPool(QCoreApplication::instance());
        created->setMaxThreadCount(1);
        return created;
    }();
    return pool;
}

} // namespace

BackgroundSorter::BackgroundSorter(QObject *parent)
    : QObject(parent)
{
}

BackgroundSorter::~BackgroundSorter()
{
    cancel();
}

void BackgroundSorter::start(const TaskSortKeys &keys, TaskSortKeys::Snapshot snapshot, Landing landing)
{
    const quint64 run = ++m_lastRun;
    m_run = run;
    m_waiting = {};
    m_latest->store(run);
    const auto sorting = QtConcurrent::run(sortPool(), [keys, snapshot = std::move(snapshot), latest = m_latest, run]() mutable {
        // A newer run is queued behind this one: it alone counts.
        if (latest->load() != run)
            return std::make_shared<TaskSortKeys::Sorted>();
        // The snapshot is moved in and freed here, not on the GUI thread, where freeing a long
        // list's names would stall.
        return std::make_shared<TaskSortKeys::Sorted>(keys.sorted(std::exchange(snapshot, {})));
    });
    // Not QFuture::then: a run that ends while the continuation is attached would land at once,
    // inside start(), where a cancel cannot stop it, or twice.
    whenReady(this, sorting, [this, run, landing = std::move(landing)](const std::shared_ptr<TaskSortKeys::Sorted> &sorted) {
        arrived(run, sorted, landing);
    });
}

void BackgroundSorter::cancel()
{
    m_run = 0;
    m_waiting = {};
    m_latest->store(0);
}

void BackgroundSorter::setHeld(bool held)
{
    m_held = held;
    if (!held && m_waiting)
        std::exchange(m_waiting, {})();
}

void BackgroundSorter::arrived(quint64 run, const std::shared_ptr<TaskSortKeys::Sorted> &sorted, const Landing &landing)
{
    if (run != m_run)
        return;
    if (m_held) {
        m_waiting = [this, run, sorted, landing] { arrived(run, sorted, landing); };
        return;
    }
    m_run = 0;
    landing(*sorted);
    // The name keys the landing did not keep are freed on the worker, as the snapshot was.
    if (!sorted->names.empty()) {
        auto leftovers = std::make_shared<std::vector<NameCollation::Key>>(std::exchange(sorted->names, {}));
        (void)QtConcurrent::run(sortPool(), [leftovers] { leftovers->clear(); });
    }
}
