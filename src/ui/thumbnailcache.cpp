#include "ui/thumbnailcache.h"

#include "ui/thumbnailer.h"

#include <QCoreApplication>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Decodes yield somewhat to the GUI thread (nice 4: about 40 % of its share when both want the
// CPU); more would starve thumbnails while a batch keeps every core busy.
void lowerThisThreadsPriority()
{
    static thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), 4);
}

} // namespace

ThumbnailCache::ThumbnailCache(QObject *parent)
    : QObject(parent)
{
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

ThumbnailCache::~ThumbnailCache()
{
    // Running decodes hold `this` for their queued answer: let them end before it goes.
    m_pool.clear();
    m_pool.waitForDone();
}

void ThumbnailCache::setPixelSize(int side)
{
    side = std::max(1, side);
    if (side == m_side)
        return;
    m_side = side;
    ++m_generation;
    m_entries.clear();
    dropQueued();
}

QImage ThumbnailCache::image(const QString &path) const
{
    const Entry *entry = m_entries.object(path);
    return entry ? entry->image : QImage();
}

bool ThumbnailCache::hasFailed(const QString &path) const
{
    const Entry *entry = m_entries.object(path);
    return entry && entry->image.isNull();
}

void ThumbnailCache::request(const QString &path)
{
    if (path.isEmpty() || m_entries.contains(path) || m_asked.contains(path))
        return;
    m_asked.insert(path);
    m_queue.append(path);
    pump();
}

void ThumbnailCache::dropQueued()
{
    for (const QString &path : std::as_const(m_queue))
        m_asked.remove(path);
    m_queue.clear();
}

void ThumbnailCache::pump()
{
    while (m_running < m_pool.maxThreadCount() && !m_queue.isEmpty()) {
        const QString path = m_queue.takeLast();
        const int side = m_side;
        const int generation = m_generation;
        ++m_running;
        m_pool.start([this, path, side, generation] {
            lowerThisThreadsPriority();
            Thumbnailer::Result result = Thumbnailer::makeUnstored(path, side);
            QMetaObject::invokeMethod(
                this, [this, result, generation] { finished(result, generation); }, Qt::QueuedConnection);
            // Shown first, stored after: encoding the PNG and syncing it is no reason to wait.
            Thumbnailer::store(result);
        });
    }
}

void ThumbnailCache::finished(const Thumbnailer::Result &result, int generation)
{
    --m_running;
    if (generation == m_generation) {
        m_asked.remove(result.path);
        m_entries.insert(result.path, new Entry{result.image, result.mtime});
        Q_EMIT thumbnailReady(result.path, result.mtime);
    }
    pump();
}
