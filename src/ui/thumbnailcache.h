#pragma once

#include <QCache>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QThreadPool>

namespace Thumbnailer {
struct Result;
}

// Square thumbnails of photos by path, made on a thread pool and kept in a bounded memory
// cache. Lives on the GUI thread: asking never waits; a finished thumbnail is announced with
// thumbnailReady (queued from the worker, with the path and modification time it was made for).
// A file that cannot be read is remembered as failed, so it is not decoded again.
class ThumbnailCache final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThumbnailCache)

public:
    static constexpr int kMaxEntries = 500;

    explicit ThumbnailCache(QObject *parent = nullptr);
    ~ThumbnailCache() override;

    // Edge of the square thumbnails in pixels; changing it forgets what was made at the old size.
    void setPixelSize(int side);
    int pixelSize() const { return m_side; }

    // The thumbnail of the file, or a null image when none is ready (or the file failed).
    QImage image(const QString &path) const;
    bool hasFailed(const QString &path) const;
    // Asks for the file's thumbnail unless it is cached or already asked for. The newest requests
    // are served first: they are the rows on screen now.
    void request(const QString &path);
    // Forgets requests that have not started (their rows scrolled away); they can be asked again.
    void dropQueued();
    qsizetype queuedCount() const { return m_queue.size(); }
    qsizetype runningCount() const { return m_running; }

Q_SIGNALS:
    void thumbnailReady(const QString &path, qint64 mtime);

private:
    struct Entry
    {
        QImage image;
        qint64 mtime = -1;
    };

    void pump();
    void finished(const Thumbnailer::Result &result, int generation);

    QThreadPool m_pool;
    QCache<QString, Entry> m_entries{kMaxEntries};
    QList<QString> m_queue;
    QSet<QString> m_asked; // queued or running
    int m_running = 0;
    int m_side = 52;
    int m_generation = 0; // bumped by a size change: older results are of the wrong size
};
