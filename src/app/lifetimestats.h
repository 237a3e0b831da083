#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <utility>

struct TaskItem;

// The bytes saved and photos converted over all runs, shared with other processes of the user.
class LifetimeStats final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LifetimeStats)

public:
    static const QString lifetimeBytesKey;
    static const QString lifetimeCountKey;

    explicit LifetimeStats(QObject *parent = nullptr);
    // Stores what is still pending before it returns.
    ~LifetimeStats() override;

    qint64 savedBytes() const { return m_savedBytes; }
    qint64 processedCount() const { return m_processedCount; }
    // Whether additions are waiting to be stored or being stored.
    bool isStoring() const { return m_writing || m_pendingCount > 0; }

    // Counts a finished job that completed and saved something: the totals change at once, the
    // file is added to in the background, at most about once a second however fast jobs end.
    void count(const TaskItem &task);

Q_SIGNALS:
    void changed();
    // Everything counted so far is in the file.
    void stored();

private:
    // Adds to the stored totals under the file's lock; returns the stored totals after it.
    static std::pair<qint64, qint64> addToFile(qint64 bytes, qint64 count);
    void scheduleWrite();
    void startWrite();
    void writeFinished();

    qint64 m_savedBytes = 0;
    qint64 m_processedCount = 0;
    // Counted but not yet handed to a write.
    qint64 m_pendingBytes = 0;
    qint64 m_pendingCount = 0;
    // From a write's start until its result is taken in here.
    bool m_writing = false;
    QElapsedTimer m_sinceWrite; // since the last write started
    QTimer m_nextWrite;
    QThreadPool m_pool;
    QFutureWatcher<std::pair<qint64, qint64>> m_writer;
};
