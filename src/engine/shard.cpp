#include "shard.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace Shard {

quint64 hashOf(const QByteArray &relativePath)
{
    const QByteArray digest = QCryptographicHash::hash(relativePath, QCryptographicHash::Sha256);
    return qFromBigEndian<quint64>(digest.constData());
}

QByteArray relativePath(const QString &source, const QString &root)
{
    const QString below = root.isEmpty() ? QString() : QDir(root).relativeFilePath(source);
    if (below.isEmpty() || below == QStringLiteral("..") || below.startsWith(QStringLiteral("../"))
        || QDir::isAbsolutePath(below))
        return QFile::encodeName(QFileInfo(source).fileName());
    return QFile::encodeName(below);
}

bool takes(const QString &source, const QString &root, int index, int count)
{
    if (count <= 1)
        return true;
    return hashOf(relativePath(source, root)) % quint64(count) == quint64(index);
}

} // namespace Shard
