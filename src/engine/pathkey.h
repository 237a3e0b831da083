#pragma once

#include <QCryptographicHash>
#include <QHashFunctions>
#include <QString>

#include <cstring>

// A path as a 128-bit digest of its text: sets of the paths a long run has met cost a few bytes
// each instead of their text. Only for telling paths apart, never for naming a file.
struct PathKey
{
    quint64 high = 0;
    quint64 low = 0;

    static PathKey of(const QString &path)
    {
        const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5);
        PathKey key;
        std::memcpy(&key.high, digest.constData(), sizeof key.high);
        std::memcpy(&key.low, digest.constData() + sizeof key.high, sizeof key.low);
        return key;
    }

    bool operator==(const PathKey &other) const = default;
};

inline size_t qHash(const PathKey &key, size_t seed = 0)
{
    return qHashMulti(seed, key.high, key.low);
}
