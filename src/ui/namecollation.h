#pragma once

#include <QByteArray>
#include <QCollator>
#include <QLocale>
#include <QString>

#include <optional>

// The order of file names in the table: natural (IMG_2 before IMG_10), case-insensitive, in the
// locale's collation. Where the locale's collator cannot sort numbers (the C locale has none), names
// compare by case-folded code points with digit runs by value. Ties are left to the caller, which
// keeps the order the rows had.
class NameCollation final
{
public:
    // A name's place in the order, worked out once; comparing two keys is cheap.
    class Key final
    {
    public:
        Key() = default;
        // -1, 0 or 1.
        int compare(const Key &other) const;

    private:
        friend class NameCollation;
        std::optional<QCollatorSortKey> m_collated;
        QByteArray m_natural;
    };

    explicit NameCollation(const QLocale &locale = QLocale());

    QLocale locale() const { return m_collator.locale(); }
    // True when the locale's collator orders the names, false when the fallback does.
    bool usesCollator() const { return m_usesCollator; }

    Key key(const QString &name) const;
    // -1, 0 or 1 as a sorts before, with or after b; always what comparing their keys gives, without
    // keeping the keys (placing a single row compares a few names, sorting a list compares keys).
    int compare(const QString &a, const QString &b) const;

private:
    QCollator m_collator;
    bool m_usesCollator = false;
};
