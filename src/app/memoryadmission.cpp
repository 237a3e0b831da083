#include "memoryadmission.h"

#include "corelog.h"
#include "engine/imageheader.h"
#include "platform/memoryprobe.h"

#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

constexpr qint64 kCjxlBytesPerPixel = 30;
constexpr qint64 kDjxlBytesPerPixel = 7;
// A tool's own footprint before any image data.
constexpr qint64 kToolBaseBytes = 16 * 1024 * 1024;
// Photos whose header gives no size: a JPEG or JXL photo rarely packs more than 4 pixels a byte.
constexpr qint64 kPixelsPerByteGuess = 4;
// How often a job waiting for memory looks again, besides whenever a job ends.
constexpr int kRetryMs = 250;
// How long one memory reading lets further jobs start (small photos start many a second).
constexpr qint64 kReadingReuseMs = 200;

} // namespace

qint64 MemoryAdmission::estimatedNeed(const QString &source, ConversionMode mode, qint64 sourceSize)
{
    const qint64 pixels = imagePixelCount(source).value_or(std::max<qint64>(0, sourceSize) * kPixelsPerByteGuess);
    return kToolBaseBytes + pixels * (mode == ConversionMode::jpegToJXL ? kCjxlBytesPerPixel : kDjxlBytesPerPixel);
}

MemoryAdmission::MemoryAdmission(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
    , m_retry(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_retry->setInterval(kRetryMs);
    connect(m_retry, &QTimer::timeout, this, &MemoryAdmission::retry);
    setProbes([meter = std::make_shared<MemoryProbe::Meter>()] { return meter->read().available(); },
              [] { return MemoryProbe::childrenResidentBytes(::getpid()); });
}

void MemoryAdmission::setProbes(AvailableMemory available, ResidentMemory resident)
{
    m_availableMemory = std::move(available);
    m_residentMemory = std::move(resident);
}

bool MemoryAdmission::admits(qint64 need, qint64 reserved, bool toolsRunning)
{
    if (!toolsRunning || !m_availableMemory)
        return true; // one job always runs
    // A recent reading is as good for a start: the tools started since it are reserved, and
    // those that ended since only make it cautious. A job is held back on a fresh one only.
    const qint64 now = m_clock();
    if (m_lastReading && now >= m_lastReading->takenAt && now - m_lastReading->takenAt < kReadingReuseMs
        && fitsIn(need, reserved, m_lastReading->available))
        return true;
    m_lastReading = Reading{now, m_availableMemory()};
    if (fitsIn(need, reserved, m_lastReading->available))
        return true;
    m_retry->start();
    return false;
}

void MemoryAdmission::stopRetrying()
{
    m_retry->stop();
}

bool MemoryAdmission::fitsIn(qint64 need, qint64 reserved, std::optional<qint64> available) const
{
    if (!available)
        return true;
    if (need + reserved <= *available)
        return true;
    // Tools that have already grown count in the reading; only what they have still to take is added.
    const qint64 resident = m_residentMemory ? m_residentMemory() : 0;
    const bool fits = need + std::max<qint64>(0, reserved - resident) <= *available;
    qCDebug(lcCore) << "memory: need" << need << "reserved" << reserved << "resident" << resident << "available"
                    << *available << (fits ? "start" : "wait");
    return fits;
}
