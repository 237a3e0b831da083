#include "formattedbytes.h"

#include <QCoreApplication>
#include <QLocale>

#include <iterator>

QString formattedBytes(qint64 bytes)
{
    // The digits and the decimal mark follow the default locale, which the language choice sets.
    const QLocale locale;
    if (bytes == 0)
        return locale.toString(0) + QStringLiteral(" KB");

    const QString sign = bytes < 0 ? locale.negativeSign() : QString();
    // Unsigned magnitude, so that the most negative count has one too.
    const quint64 magnitude = bytes < 0 ? quint64(-(bytes + 1)) + 1 : quint64(bytes);
    // Below 1000 the number is the count itself and the unit is a word, singular or plural.
    if (magnitude < 1000)
        return sign + QCoreApplication::translate("formattedBytes", "%Ln 字节", nullptr, int(magnitude));

    struct Unit
    {
        const char *name;
        int decimals;
    };
    static const Unit units[] = {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}};

    // Integer arithmetic rounds halves up exactly; binary fractions would round some
    // of them down (16.005 GB read as "16 GB").
    quint64 unitSize = 1;
    for (size_t i = 0; i < std::size(units); ++i) {
        unitSize *= 1000;
        quint64 step = 1; // 10^decimals
        for (int d = 0; d < units[i].decimals; ++d)
            step *= 10;
        const quint64 divisor = unitSize / step;
        const quint64 remainder = magnitude % divisor;
        const quint64 steps = magnitude / divisor + (remainder >= divisor - remainder ? 1 : 0);
        // A value that rounds up to 1000 of this unit reads as 1 of the next one.
        if (steps >= 1000 * step && i + 1 < std::size(units))
            continue;
        QString number = locale.toString(steps / step);
        if (const quint64 fraction = steps % step; fraction != 0) {
            QString digits = QString::number(fraction).rightJustified(units[i].decimals, QLatin1Char('0'));
            while (digits.endsWith(QLatin1Char('0')))
                digits.chop(1);
            number += locale.decimalPoint() + digits;
        }
        return sign + number + QLatin1Char(' ') + QLatin1String(units[i].name);
    }
    return {};
}
