#pragma once

#include "model/taskitem.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

// Whether the machine has memory left for one more tool: what is available against what the
// running tools were estimated to need and hold already. Memory frees without any job ending,
// so a tool held back is looked at again shortly (retry()).
class MemoryAdmission final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MemoryAdmission)

public:
    // Bytes a job's tool is expected to need at its peak. Runs on the thread pool.
    using NeedEstimator = std::function<qint64(const QString &source, ConversionMode mode, qint64 sourceSize)>;
    // Bytes new work may take now; nothing when unknown (the job then starts).
    using AvailableMemory = std::function<std::optional<qint64>()>;
    // Bytes the running tools hold already (part of what they were estimated to need).
    using ResidentMemory = std::function<qint64()>;
    // Milliseconds on a steady clock; the age of a reading is measured on it.
    using Clock = std::function<qint64()>;

    // About 30 MB per megapixel for cjxl, 7 MB for djxl, from the image's header.
    static qint64 estimatedNeed(const QString &source, ConversionMode mode, qint64 sourceSize);

    // Reads this machine's memory and what this process's children hold.
    explicit MemoryAdmission(Clock clock, QObject *parent = nullptr);

    void setProbes(AvailableMemory available, ResidentMemory resident);
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setNeedEstimator(NeedEstimator estimator) { m_estimator = std::move(estimator); }
    const NeedEstimator &needEstimator() const { return m_estimator; }

    // Whether a tool that needs `need` may start beside the running ones, estimated to need
    // `reserved` together; with none running it always may. A refusal schedules retry().
    bool admits(qint64 need, qint64 reserved, bool toolsRunning);
    // No retry() until the next refusal: the batch that waited is gone.
    void stopRetrying();

Q_SIGNALS:
    void retry();

private:
    bool fitsIn(qint64 need, qint64 reserved, std::optional<qint64> available) const;

    NeedEstimator m_estimator = &MemoryAdmission::estimatedNeed;
    AvailableMemory m_availableMemory;
    ResidentMemory m_residentMemory;
    Clock m_clock;
    struct Reading
    {
        qint64 takenAt = 0; // m_clock's time
        std::optional<qint64> available;
    };
    std::optional<Reading> m_lastReading;
    QTimer *m_retry;
};
