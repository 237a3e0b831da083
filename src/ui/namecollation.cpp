#include "ui/namecollation.h"

#include <QByteArrayView>
#include <QVarLengthArray>

#include <algorithm>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

template <typename Out>
void appendUtf8(Out &out, char32_t c)
{
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// Case-folded UTF-8, whose byte order is code point order, with each run of digits written as a
// marker that sorts where a digit would, the run's length without leading zeros, then the digits:
// a shorter number sorts first, numbers of one length by their digits. Written into a key to keep
// and, for a single comparison, into a buffer on the stack: one writer, so both order alike.
template <typename Out>
void writeNaturalKey(QStringView name, Out &out)
{
    const qsizetype size = name.size();
    qsizetype at = 0;
    while (at < size) {
        const QChar c = name.at(at);
        if (isAsciiDigit(c)) {
            qsizetype end = at;
            while (end < size && isAsciiDigit(name.at(end)))
                ++end;
            qsizetype first = at;
            while (first + 1 < end && name.at(first) == QLatin1Char('0'))
                ++first;
            // Runs longer than a byte can count compare as the longest; no file name has one.
            const qsizetype length = std::min<qsizetype>(end - first, 255);
            out.append('0');
            out.append(char(quint8(length)));
            for (qsizetype digit = first; digit < end; ++digit)
                out.append(char(name.at(digit).unicode()));
            at = end;
            continue;
        }
        char32_t point = c.unicode();
        if (c.isHighSurrogate() && at + 1 < size && name.at(at + 1).isLowSurrogate()) {
            point = QChar::surrogateToUcs4(c, name.at(at + 1));
            at += 2;
        } else {
            ++at;
        }
        appendUtf8(out, QChar::toCaseFolded(point));
    }
}

int sign(int value)
{
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

} // namespace

int NameCollation::Key::compare(const Key &other) const
{
    if (m_collated && other.m_collated)
        return sign(m_collated->compare(*other.m_collated));
    return sign(m_natural.compare(other.m_natural));
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
    if (m_usesCollator) {
        key.m_collated = m_collator.sortKey(name);
    } else {
        key.m_natural.reserve(name.size() + 8);
        writeNaturalKey(QStringView(name), key.m_natural);
    }
    return key;
}

int NameCollation::compare(const QString &a, const QString &b) const
{
    // The collator compares as its sort keys do.
    if (m_usesCollator)
        return sign(m_collator.compare(a, b));
    QVarLengthArray<char, 256> first;
    QVarLengthArray<char, 256> second;
    writeNaturalKey(QStringView(a), first);
    writeNaturalKey(QStringView(b), second);
    return sign(QByteArrayView(first.data(), first.size()).compare(QByteArrayView(second.data(), second.size())));
}
