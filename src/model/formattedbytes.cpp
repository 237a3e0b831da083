#include "formattedbytes.h"

#include <cmath>

QString formattedBytes(qint64 bytes)
{
    if (bytes == 0)
        return QStringLiteral("0 KB");

    const QString sign = bytes < 0 ? QStringLiteral("-") : QString();
    // Magnitude in long double so that the largest counts keep their precision.
    const long double magnitude = std::fabs(static_cast<long double>(bytes));
    if (magnitude < 1000.0L)
        return sign + QString::number(static_cast<qint64>(magnitude)) + QStringLiteral(" 字节");

    struct Unit
    {
        const char *name;
        int decimals;
    };
    static const Unit units[] = {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}};

    long double scaled = magnitude;
    for (size_t i = 0; i < std::size(units); ++i) {
        scaled /= 1000.0L;
        const long double factor = std::pow(10.0L, units[i].decimals);
        const long double rounded = std::round(scaled * factor) / factor;
        // A value that rounds up to 1000 of this unit reads as 1 of the next one.
        if (rounded >= 1000.0L && i + 1 < std::size(units))
            continue;
        QString number = QString::number(static_cast<double>(rounded), 'f', units[i].decimals);
        if (number.contains(QLatin1Char('.'))) {
            while (number.endsWith(QLatin1Char('0')))
                number.chop(1);
            if (number.endsWith(QLatin1Char('.')))
                number.chop(1);
        }
        return sign + number + QLatin1Char(' ') + QLatin1String(units[i].name);
    }
    return {};
}
