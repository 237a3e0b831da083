#pragma once

#include <QByteArrayView>

#include <optional>

// Unsigned fields of bytes that came from outside. Every read is checked against the end of the
// bytes: a field that runs past it is nothing, never a read beyond the buffer.
namespace ByteFields {

std::optional<quint8> u8(QByteArrayView bytes, qint64 offset);

// Big-endian, as in JPEG markers and ISO boxes.
std::optional<quint16> be16(QByteArrayView bytes, qint64 offset);
std::optional<quint32> be32(QByteArrayView bytes, qint64 offset);
std::optional<quint64> be64(QByteArrayView bytes, qint64 offset);

// Little-endian, as in TIFF structures that start "II".
std::optional<quint16> le16(QByteArrayView bytes, qint64 offset);
std::optional<quint32> le32(QByteArrayView bytes, qint64 offset);

} // namespace ByteFields
