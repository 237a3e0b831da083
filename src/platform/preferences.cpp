#include "preferences.h"

#include <QVariant>

#include <limits>

Preferences::Preferences()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("pikora"), QStringLiteral("pikora"))
{
}

QByteArray Preferences::data(const QString &key) const
{
    const QVariant value = m_settings.value(key);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void Preferences::setData(const QString &key, const QByteArray &value)
{
    m_settings.setValue(key, value);
}

std::optional<qint64> Preferences::int64(const QString &key) const
{
    // The INI file keeps no types: a value written by another process comes back as text,
    // one written by this process keeps its integer type until the file is read again.
    const QVariant value = m_settings.value(key);
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::ULongLong:
        ok = value.toULongLong() <= static_cast<quint64>(std::numeric_limits<qint64>::max());
        number = value.toLongLong();
        break;
    case QMetaType::QString:
        number = value.toString().toLongLong(&ok);
        break;
    default:
        break;
    }
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

void Preferences::setInt64(const QString &key, qint64 value)
{
    m_settings.setValue(key, value);
}

qint64 Preferences::integer(const QString &key) const
{
    return int64(key).value_or(0);
}

bool Preferences::contains(const QString &key) const
{
    return m_settings.contains(key);
}

void Preferences::remove(const QString &key)
{
    m_settings.remove(key);
}

void Preferences::sync()
{
    m_settings.sync();
}

QString Preferences::fileName() const
{
    return m_settings.fileName();
}
