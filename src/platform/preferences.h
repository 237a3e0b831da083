#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <optional>

// The user's preference store: one INI file in the config folder ("pikora/pikora.ini"),
// flat keys, each write kept at once in memory and flushed by QSettings (or sync()).
class Preferences final
{
    Q_DISABLE_COPY_MOVE(Preferences)

public:
    Preferences();

    // Empty when the key is absent or holds no binary data.
    QByteArray data(const QString &key) const;
    void setData(const QString &key, const QByteArray &value);

    // A stored whole number, whether this process wrote it or it was read back as text.
    std::optional<qint64> int64(const QString &key) const;
    void setInt64(const QString &key, qint64 value);
    // 0 when the key is absent or holds no whole number.
    qint64 integer(const QString &key) const;

    bool contains(const QString &key) const;
    void remove(const QString &key);
    // Writes pending changes to the file now.
    void sync();
    QString fileName() const;

private:
    QSettings m_settings;
};
