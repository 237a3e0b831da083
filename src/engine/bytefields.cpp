#include "bytefields.h"

namespace ByteFields {

namespace {

// The unsigned number in `width` bytes at offset, most significant byte first or last.
template<typename T>
std::optional<T> field(QByteArrayView bytes, qint64 offset, bool bigEndian)
{
    constexpr qint64 width = sizeof(T);
    if (offset < 0 || offset > bytes.size() || bytes.size() - offset < width)
        return std::nullopt;
    const auto *data = reinterpret_cast<const uchar *>(bytes.data()) + offset;
    T value = 0;
    for (qint64 i = 0; i < width; ++i)
        value = T(value << 8) | data[bigEndian ? i : width - 1 - i];
    return value;
}

} // namespace

std::optional<quint8> u8(QByteArrayView bytes, qint64 offset)
{
    return field<quint8>(bytes, offset, true);
}

std::optional<quint16> be16(QByteArrayView bytes, qint64 offset)
{
    return field<quint16>(bytes, offset, true);
}

std::optional<quint32> be32(QByteArrayView bytes, qint64 offset)
{
    return field<quint32>(bytes, offset, true);
}

std::optional<quint64> be64(QByteArrayView bytes, qint64 offset)
{
    return field<quint64>(bytes, offset, true);
}

std::optional<quint16> le16(QByteArrayView bytes, qint64 offset)
{
    return field<quint16>(bytes, offset, false);
}

std::optional<quint32> le32(QByteArrayView bytes, qint64 offset)
{
    return field<quint32>(bytes, offset, false);
}

} // namespace ByteFields
