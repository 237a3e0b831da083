#pragma once

#include <QByteArray>
#include <QString>

// Splits photos among machines without a list or any coordination: a photo belongs to the
// shard its path below its import root hashes to, so machines that mount one share under
// different paths split it alike.
namespace Shard {

// The first 8 bytes of the SHA-256 of the path's bytes, as a big-endian number.
quint64 hashOf(const QByteArray &relativePath);

// The path of source below root, in the file system's bytes; a source that is not below root
// is named by its file name alone.
QByteArray relativePath(const QString &source, const QString &root);

// Whether shard index of count takes the photo at source, imported under root.
bool takes(const QString &source, const QString &root, int index, int count);

} // namespace Shard
