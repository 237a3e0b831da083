#include "ui/namecollation.h"

#include <algorithm>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Case-folded UTF-8, whose byte order is code point order, with each run of digits written as a
// marker that sorts where a digit would, the run's length without leading zeros, then the digits:
// a shorter number sorts first, numbers of one length by their digits.
QByteArray naturalKey(const QString &name)
{
    const QString folded = name.toCaseFolded();
    QByteArray key;
    key.reserve(folded.size() + 8);
    qsizetype at = 0;
    while (at < folded.size()) {
        if (!isAsciiDigit(folded.at(at))) {
            qsizetype end = at;
            while (end < folded.size() && !isAsciiDigit(folded.at(end)))
                ++end;
            key.append(QStringView(folded).mid(at, end - at).toUtf8());
            at = end;
            continue;
        }
        qsizetype end = at;
        while (end < folded.size() && isAsciiDigit(folded.at(end)))
            ++end;
        qsizetype first = at;
        while (first + 1 < end && folded.at(first) == QLatin1Char('0'))
            ++first;
        // Runs longer than a byte can count compare as the longest; no file name has one.
        const qsizetype length = std::min<qsizetype>(end - first, 255);
        key.append('0');
        key.append(char(quint8(length)));
        for (qsizetype digit = first; digit < end; ++digit)
            key.append(char(folded.at(digit).unicode()));
        at = end;
    }
    return key;
}

} // namespace

int NameCollation::Key::compare(const Key &other) const
{
    if (m_collated && other.m_collated)
        return m_collated->compare(*other.m_collated);
    const int compared = m_natural.compare(other.m_natural);
    return compared < 0 ? -1 : (compared > 0 ? 1 : 0);
}

NameCollation::NameCollation(const QLocale &locale)
    : m_collator(locale)
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    // The C locale's collator compares code points, without numbers and, for sort keys, with case:
    // the collator is used only where it does what the order asks.
    m_usesCollator = m_collator.compare(QStringLiteral("a2"), QStringLiteral("a10")) < 0
        && m_collator.sortKey(QStringLiteral("a2")).compare(m_collator.sortKey(QStringLiteral("A10"))) < 0
        && m_collator.sortKey(QStringLiteral("b")).compare(m_collator.sortKey(QStringLiteral("A"))) > 0;
}

NameCollation::Key NameCollation::key(const QString &name) const
{
    Key key;
    if (m_usesCollator)
        key.m_collated = m_collator.sortKey(name);
    else
        key.m_natural = naturalKey(name);
    return key;
}
