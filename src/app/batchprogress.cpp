#include "batchprogress.h"

#include "model/taskitem.h"

#include <algorithm>
#include <cmath>

namespace {

// How far back the remaining-time estimate looks for the pace of the work.
constexpr qint64 kThroughputWindowMs = 60 * 1000;

} // namespace

void BatchProgress::add(qint64 size)
{
    m_total += 1;
    m_bytesTotal += std::max<qint64>(0, size);
}

void BatchProgress::remove(qint64 size)
{
    m_total -= 1;
    m_bytesTotal -= std::max<qint64>(0, size);
}

void BatchProgress::jobEnded(const TaskItem &task, qint64 size, qint64 now)
{
    if (task.status != TaskStatus::completed && task.status != TaskStatus::failed && task.status != TaskStatus::skipped) {
        remove(size);
        return;
    }
    m_done += 1;
    const bool notSmaller = task.skipReason == SkipReason::notSmaller;
    m_skipped += task.status == TaskStatus::skipped && !notSmaller ? 1 : 0;
    m_notSmaller += task.status == TaskStatus::skipped && notSmaller ? 1 : 0;
    m_bytesDone += std::max<qint64>(0, size);
    m_recentFinishes.append(now);
    while (m_recentFinishes.constFirst() <= now - kThroughputWindowMs)
        m_recentFinishes.removeFirst();
}

std::optional<qint64> BatchProgress::remainingSeconds(qint64 now) const
{
    if (m_done < 2)
        return std::nullopt;
    const qint64 from = std::max(m_startedAt, now - kThroughputWindowMs);
    const auto recent = std::count_if(m_recentFinishes.cbegin(), m_recentFinishes.cend(),
                                      [from](qint64 at) { return at > from; });
    // Jobs that take longer than the window leave too few finishes in it: then the whole batch's pace.
    const double finished = recent >= 2 ? double(recent) : double(m_done);
    const double span = double(std::max<qint64>(1, recent >= 2 ? now - from : now - m_startedAt)) / 1000.0;
    const double left = double(std::max(0, m_total - m_done));
    return qint64(std::ceil(left * span / finished));
}
