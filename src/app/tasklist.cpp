#include "tasklist.h"

#include <QDir>

#include <algorithm>
#include <limits>

TaskList::TaskList(ConversionMode mode, QObject *parent)
    : QObject(parent)
    , m_mode(mode)
    , m_gapStart(std::numeric_limits<qsizetype>::max())
{
}

QString TaskList::standardizedPath(const QUrl &url)
{
    // A source that is not a local file keeps its URL text, which no absolute path can equal.
    if (!url.isLocalFile())
        return url.toString(QUrl::FullyEncoded);
    return QDir::cleanPath(url.toLocalFile());
}

const TaskItem *TaskList::find(const QUuid &id) const
{
    const qsizetype row = indexOf(id);
    return row < 0 ? nullptr : &at(row);
}

void TaskList::append(const QList<TaskItem> &items, const QHash<QUuid, QString> &realPaths)
{
    if (items.isEmpty())
        return;
    const qsizetype first = m_items.size();
    Q_EMIT rowsAboutToBeInserted(first, first + items.size() - 1);
    // No reserve(): it copies every job into an exact-size block each time, and an import arrives
    // in many appends; growing by appending reallocates geometrically, in place where it can.
    for (const TaskItem &item : items) {
        m_index.insert(item.id, m_items.size());
        m_items.append(item);
        if (const auto real = realPaths.constFind(item.id); real != realPaths.cend())
            m_realPaths.insert(item.id, *real);
        count(item, +1);
        indexPaths(item, +1);
    }
    Q_EMIT rowsInserted(first, m_items.size() - 1);
    Q_EMIT changed();
}

bool TaskList::replace(const TaskItem &item)
{
    const qsizetype row = indexOf(item.id);
    if (row < 0)
        return false;
    TaskItem &slot = m_items[row];
    count(slot, -1);
    const bool moved = slot.sourceURL != item.sourceURL || slot.destinationURL != item.destinationURL;
    if (moved)
        indexPaths(slot, -1);
    slot = item;
    count(item, +1);
    if (moved)
        indexPaths(item, +1);
    Q_EMIT rowChanged(row);
    Q_EMIT changed();
    return true;
}

qsizetype TaskList::remove(const QSet<QUuid> &ids)
{
    QList<qsizetype> rows;
    for (const QUuid &id : ids) {
        if (const qsizetype row = indexOf(id); row >= 0)
            rows.append(row);
    }
    if (rows.isEmpty())
        return 0;
    std::sort(rows.begin(), rows.end());

    // One pass over the list whatever the number of runs: kept rows move down into the gap the
    // runs before them left, and at() bridges the gap for views reading rows in between.
    const qsizetype total = m_items.size();
    qsizetype write = rows.first();
    qsizetype read = write;
    m_gapStart = write;
    m_gapSize = 0;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype end = i + 1;
        while (end < rows.size() && rows.at(end) == rows.at(end - 1) + 1)
            ++end;
        const qsizetype runFirst = rows.at(i);
        const qsizetype runLength = end - i;
        while (read < runFirst)
            m_items[write++] = std::move(m_items[read++]);
        m_gapStart = write;
        Q_EMIT rowsAboutToBeRemoved(write, write + runLength - 1);
        for (qsizetype r = read; r < read + runLength; ++r) {
            count(m_items.at(r), -1);
            indexPaths(m_items.at(r), -1);
            m_index.remove(m_items.at(r).id);
            m_realPaths.remove(m_items.at(r).id);
        }
        read += runLength;
        m_gapSize = read - write;
        Q_EMIT rowsRemoved(write, write + runLength - 1);
        i = end;
    }
    while (read < total)
        m_items[write++] = std::move(m_items[read++]);
    m_items.resize(write);
    m_gapStart = std::numeric_limits<qsizetype>::max();
    m_gapSize = 0;
    reindexFrom(rows.first());
    Q_EMIT changed();
    return rows.size();
}

void TaskList::clear()
{
    if (m_items.isEmpty())
        return;
    const qsizetype last = m_items.size() - 1;
    Q_EMIT rowsAboutToBeRemoved(0, last);
    m_items.clear();
    m_index.clear();
    m_paths.clear();
    m_realPaths.clear();
    m_counts.fill(0);
    m_notSmaller = 0;
    m_refused = 0;
    m_savedBytes = 0;
    Q_EMIT rowsRemoved(0, last);
    Q_EMIT changed();
}

void TaskList::count(const TaskItem &item, int delta)
{
    m_counts[static_cast<size_t>(item.status)] += delta;
    if (item.status == TaskStatus::skipped && item.skipReason == SkipReason::notSmaller)
        m_notSmaller += delta;
    if (item.isRefused())
        m_refused += delta;
    // A skipped job's output was made, and counted, by a former run.
    if (item.status == TaskStatus::completed)
        m_savedBytes += delta * item.savedBytes();
}

void TaskList::indexPaths(const TaskItem &item, int delta)
{
    const auto add = [this, delta](const QString &path) {
        int &n = m_paths[path];
        n += delta;
        if (n <= 0)
            m_paths.remove(path);
    };
    add(standardizedPath(item.sourceURL));
    if (item.destinationURL)
        add(standardizedPath(*item.destinationURL));
    if (const auto real = m_realPaths.constFind(item.id); real != m_realPaths.cend())
        add(*real);
}

void TaskList::reindexFrom(qsizetype row)
{
    for (qsizetype i = row; i < m_items.size(); ++i)
        m_index.insert(m_items.at(i).id, i);
}
