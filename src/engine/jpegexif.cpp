#include "jpegexif.h"

#include "bytefields.h"
#include "bytesource.h"
#include "jpegsegments.h"

namespace {

// The TIFF structure inside an Exif segment. Every offset in it counts from its first byte and
// comes from the file: each read is checked against the bytes there are.
class Tiff
{
public:
    explicit Tiff(QByteArrayView bytes) : m_bytes(bytes) {}

    bool readByteOrder()
    {
        if (m_bytes.size() < 8)
            return false;
        if (m_bytes.startsWith(QByteArrayView("II*\0", 4)))
            m_bigEndian = false;
        else if (m_bytes.startsWith(QByteArrayView("MM\0*", 4)))
            m_bigEndian = true;
        else
            return false;
        return true;
    }

    std::optional<quint16> u16(quint64 offset) const
    {
        if (offset > quint64(m_bytes.size()))
            return std::nullopt;
        return m_bigEndian ? ByteFields::be16(m_bytes, qint64(offset)) : ByteFields::le16(m_bytes, qint64(offset));
    }

    std::optional<quint32> u32(quint64 offset) const
    {
        if (offset > quint64(m_bytes.size()))
            return std::nullopt;
        return m_bigEndian ? ByteFields::be32(m_bytes, qint64(offset)) : ByteFields::le32(m_bytes, qint64(offset));
    }

    // The entry count of the directory at offset, when all its entries lie inside the bytes.
    std::optional<quint16> directory(quint64 offset) const
    {
        // Offsets below 8 would read the header as a directory.
        const auto count = offset >= 8 ? u16(offset) : std::nullopt;
        if (!count || quint64(m_bytes.size()) - offset - 2 < quint64(*count) * 12)
            return std::nullopt;
        return count;
    }

    // A single SHORT or LONG value of the directory's tag.
    std::optional<quint32> value(quint64 directory, quint16 count, quint16 tag) const
    {
        for (quint16 i = 0; i < count; ++i) {
            const quint64 entry = directory + 2 + quint64(i) * 12;
            if (u16(entry) != tag)
                continue;
            const auto type = u16(entry + 2);
            if (u32(entry + 4) != 1u)
                return std::nullopt;
            if (type == 3)
                return u16(entry + 8);
            if (type == 4)
                return u32(entry + 8);
            return std::nullopt;
        }
        return std::nullopt;
    }

private:
    QByteArrayView m_bytes;
    bool m_bigEndian = false;
};

std::optional<JpegExif> readTiff(QByteArrayView bytes)
{
    Tiff tiff(bytes);
    if (!tiff.readByteOrder())
        return std::nullopt;
    const auto first = tiff.u32(4);
    const auto firstCount = first ? tiff.directory(*first) : std::nullopt;
    if (!firstCount)
        return std::nullopt;
    JpegExif exif;
    const auto orientation = tiff.value(*first, *firstCount, 0x0112);
    if (orientation && *orientation >= 1 && *orientation <= 8)
        exif.orientation = int(*orientation);

    // Only the second directory is followed, and never back to the first: a chain that loops
    // cannot hold the reader.
    const auto second = tiff.u32(*first + 2 + quint64(*firstCount) * 12);
    const auto secondCount = second && *second != *first ? tiff.directory(*second) : std::nullopt;
    if (!secondCount)
        return exif;
    const auto offset = tiff.value(*second, *secondCount, 0x0201);
    const auto length = tiff.value(*second, *secondCount, 0x0202);
    if (!offset || !length || *length < 4 || *offset < 8 || *offset > quint64(bytes.size())
        || quint64(bytes.size()) - *offset < *length)
        return exif;
    const QByteArrayView thumbnail = bytes.sliced(qsizetype(*offset), qsizetype(*length));
    if (thumbnail.startsWith(QByteArrayView("\xFF\xD8", 2)))
        exif.thumbnail = thumbnail;
    return exif;
}

} // namespace

std::optional<JpegExif> parseJpegExif(QByteArrayView bytes)
{
    if (bytes.size() < 4 || !bytes.startsWith(QByteArrayView("\xFF\xD8", 2)))
        return std::nullopt;
    const ByteSource source(bytes);
    std::optional<JpegExif> exif;
    JpegSegments::walk(source, [&](const JpegSegments::Segment &segment) {
        if (segment.marker == 0xDA)
            return false;
        if (segment.marker != 0xE1)
            return true;
        // A view into the bytes given, so the thumbnail found in it is one too.
        const QByteArray body = source.read(segment.offset, segment.length);
        if (!body.startsWith(QByteArrayView("Exif\0\0", 6)))
            return true;
        exif = readTiff(QByteArrayView(body).sliced(6));
        return false;
    });
    return exif;
}
