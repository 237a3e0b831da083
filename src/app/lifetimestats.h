#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <optional>

struct TaskItem;

// The bytes saved and photos converted over all runs, shared with other processes of the user.
class LifetimeStats final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LifetimeStats)

public:
    static const QString lifetimeBytesKey;
    static const QString lifetimeCountKey;
    // The saved and original bytes of the conversions counted with their original size: the
    // average reduction is made of these two alone. Counters stored by an older version lack
    // them, and an older version adding beside this one leaves them as they are.
    static const QString reductionSavedKey;
    static const QString reductionOriginalKey;

    // Every counter, as stored or as added.
    struct Totals
    {
        qint64 savedBytes = 0;
        qint64 processedCount = 0;
        qint64 reductionSaved = 0;
        qint64 reductionOriginal = 0;

        Totals &operator+=(const Totals &other);
        bool operator==(const Totals &other) const = default;
    };

    explicit LifetimeStats(QObject *parent = nullptr);
    // Stores what is still pending before it returns.
    ~LifetimeStats() override;

    qint64 savedBytes() const { return m_totals.savedBytes; }
    qint64 processedCount() const { return m_totals.processedCount; }
    // Saved bytes over original bytes of the conversions counted with their original size, in
    // percent; none until there is one.
    std::optional<double> averageReduction() const;
    // False while some saved bytes were counted without their original size (by an older
    // version): the average leaves those conversions out.
    bool averageCoversAll() const { return m_totals.reductionSaved >= m_totals.savedBytes; }
    // Whether additions are waiting to be stored or being stored.
    bool isStoring() const { return m_writing || m_pending.processedCount > 0; }

    // Counts a finished job that completed and saved something: the totals change at once, the
    // file is added to in the background, at most about once a second however fast jobs end.
    void count(const TaskItem &task);

Q_SIGNALS:
    void changed();
    // Everything counted so far is in the file.
    void stored();

private:
    // Adds to the stored totals under the file's lock; returns the stored totals after it.
    static Totals addToFile(const Totals &added);
    void scheduleWrite();
    void startWrite();
    void writeFinished();

    Totals m_totals;
    // Counted but not yet handed to a write.
    Totals m_pending;
    // From a write's start until its result is taken in here.
    bool m_writing = false;
    QElapsedTimer m_sinceWrite; // since the last write started
    QTimer m_nextWrite;
    QThreadPool m_pool;
    QFutureWatcher<Totals> m_writer;
};
