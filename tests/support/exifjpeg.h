#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QtEndian>

#include <optional>

// JPEGs carrying an Exif segment as cameras write it: a TIFF header, the first directory with the
// Orientation tag, the second with the embedded thumbnail's offset and length, then the thumbnail.
// The fields a hostile file would lie about can be set to any value.
namespace ExifJpeg {

struct Layout
{
    bool bigEndian = false;
    int orientation = 0;  // 0: no Orientation tag
    QByteArray thumbnail; // empty: no second directory
    std::optional<quint32> secondDirectory; // where the first directory says the second is
    std::optional<quint32> thumbnailOffset;
    std::optional<quint32> thumbnailLength;
};

// Offsets of the layout's parts from the TIFF header's first byte.
constexpr quint32 kFirstDirectory = 8;

inline QByteArray tiff(const Layout &layout)
{
    QByteArray bytes;
    const auto put16 = [&](quint16 value) {
        char raw[2];
        layout.bigEndian ? qToBigEndian(value, raw) : qToLittleEndian(value, raw);
        bytes.append(raw, 2);
    };
    const auto put32 = [&](quint32 value) {
        char raw[4];
        layout.bigEndian ? qToBigEndian(value, raw) : qToLittleEndian(value, raw);
        bytes.append(raw, 4);
    };
    const auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        put16(tag);
        put16(type);
        put32(1);
        if (type == 3) {
            put16(quint16(value));
            put16(0);
        } else {
            put32(value);
        }
    };

    bytes.append(layout.bigEndian ? QByteArrayLiteral("MM\0*") : QByteArrayLiteral("II*\0"));
    put32(kFirstDirectory);
    const quint16 firstCount = layout.orientation ? 1 : 0;
    const quint32 second = kFirstDirectory + 2 + 12 * firstCount + 4;
    put16(firstCount);
    if (layout.orientation)
        entry(0x0112, 3, quint32(layout.orientation));
    put32(layout.thumbnail.isEmpty() ? 0 : layout.secondDirectory.value_or(second));
    if (layout.thumbnail.isEmpty())
        return bytes;
    const quint32 data = second + 2 + 3 * 12 + 4;
    put16(3);
    entry(0x0103, 3, 6); // JPEG compression
    entry(0x0201, 4, layout.thumbnailOffset.value_or(data));
    entry(0x0202, 4, layout.thumbnailLength.value_or(quint32(layout.thumbnail.size())));
    put32(0);
    bytes.append(layout.thumbnail);
    return bytes;
}

// The whole APP1 segment, marker and length included.
inline QByteArray segment(const Layout &layout)
{
    const QByteArray body = QByteArrayLiteral("Exif\0\0") + tiff(layout);
    char length[2];
    qToBigEndian(quint16(body.size() + 2), length);
    return QByteArrayLiteral("\xFF\xE1") + QByteArray(length, 2) + body;
}

inline QByteArray jpeg(const QImage &image, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpeg", quality);
    return bytes;
}

// The JPEG with the Exif segment right after its SOI, where cameras put it.
inline QByteArray withExif(const QByteArray &jpegBytes, const Layout &layout)
{
    return jpegBytes.left(2) + segment(layout) + jpegBytes.mid(2);
}

// Where the TIFF header starts in withExif()'s result.
constexpr qsizetype kTiffStart = 2 + 4 + 6;

} // namespace ExifJpeg
