#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// The longest time between two ticks of a timer (5 ms unless told) while it runs: how long the
// event loop was kept from the user at worst.
class StallMeter
{
public:
    explicit StallMeter(QObject *context, int tickMs = 5)
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(tickMs);
        QObject::connect(&m_timer, &QTimer::timeout, context, [this] {
            m_longest = std::max(m_longest, m_sinceTick.nsecsElapsed());
            m_sinceTick.start();
        });
    }

    void start()
    {
        m_longest = 0;
        m_sinceTick.start();
        m_timer.start();
    }

    // The longest gap in milliseconds, counting the one still open.
    double stop()
    {
        m_timer.stop();
        return double(std::max(m_longest, m_sinceTick.nsecsElapsed())) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};
