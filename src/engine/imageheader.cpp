#include "imageheader.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <array>
#include <limits>

namespace {

quint8 at(QByteArrayView bytes, qsizetype i)
{
    return quint8(bytes[i]);
}

quint16 be16(QByteArrayView bytes, qsizetype i)
{
    return quint16((at(bytes, i) << 8) | at(bytes, i + 1));
}

bool isFrameMarker(quint8 marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: TEM, RSTn, SOI.
bool isStandalone(quint8 marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

bool readFrame(quint8 marker, QByteArrayView segment, JpegHeader &header)
{
    if (segment.size() < 6)
        return false;
    const int count = at(segment, 5);
    if (segment.size() < 6 + 3 * count)
        return false;
    header.frameMarker = marker;
    const int type = marker & 0x0F;
    header.arithmetic = marker >= 0xC9;
    header.progressive = type == 2 || type == 6 || type == 10 || type == 14;
    header.lossless = type == 3 || type == 7 || type == 11 || type == 15;
    header.hierarchical = (type >= 5 && type <= 7) || type >= 13;
    header.precision = at(segment, 0);
    header.height = be16(segment, 1);
    header.width = be16(segment, 3);
    header.components = count;
    header.componentInfo.clear();
    for (int i = 0; i < count; ++i) {
        const quint8 factors = at(segment, 7 + 3 * i);
        header.componentInfo.append({at(segment, 6 + 3 * i), factors >> 4, factors & 0x0F});
    }
    return true;
}

// Calls visit(marker, body) for each segment from the one after SOI, up to and including the
// first SOS, until visit returns false. A body cut off by the end of the bytes is given as far as
// it goes.
template<typename Visit>
void walkSegments(QByteArrayView bytes, Visit visit)
{
    qsizetype position = 2;
    while (position + 2 <= bytes.size()) {
        if (at(bytes, position) != 0xFF)
            return; // not a marker where one must be: the rest cannot be trusted
        const quint8 marker = at(bytes, position + 1);
        if (marker == 0xFF) {
            ++position; // fill byte
            continue;
        }
        if (isStandalone(marker)) {
            position += 2;
            continue;
        }
        if (marker == 0xD9 || position + 4 > bytes.size())
            return;
        const quint16 length = be16(bytes, position + 2);
        if (length < 2)
            return;
        const QByteArrayView segment = bytes.sliced(position + 4, qMin<qsizetype>(length - 2, bytes.size() - position - 4));
        if (!visit(marker, segment) || marker == 0xDA)
            return;
        position += 2 + length;
    }
}

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
        if (m_bytes.first(4) == QByteArrayView("II*\0", 4))
            m_bigEndian = false;
        else if (m_bytes.first(4) == QByteArrayView("MM\0*", 4))
            m_bigEndian = true;
        else
            return false;
        return true;
    }

    std::optional<quint16> u16(quint64 offset) const
    {
        if (offset > quint64(m_bytes.size()) || quint64(m_bytes.size()) - offset < 2)
            return std::nullopt;
        const auto i = qsizetype(offset);
        return m_bigEndian ? quint16((at(m_bytes, i) << 8) | at(m_bytes, i + 1))
                           : quint16((at(m_bytes, i + 1) << 8) | at(m_bytes, i));
    }

    std::optional<quint32> u32(quint64 offset) const
    {
        const auto first = u16(offset);
        const auto second = u16(offset + 2);
        if (!first || !second)
            return std::nullopt;
        return m_bigEndian ? (quint32(*first) << 16) | *second : (quint32(*second) << 16) | *first;
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
    if (at(thumbnail, 0) == 0xFF && at(thumbnail, 1) == 0xD8)
        exif.thumbnail = thumbnail;
    return exif;
}

// Bits of a JPEG XL codestream, least significant bit of each byte first.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes) : m_bytes(bytes) {}

    std::optional<quint32> bits(int count)
    {
        if (m_position + count > m_bytes.size() * 8)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < count; ++i, ++m_position)
            value |= quint32((at(m_bytes, m_position / 8) >> (m_position % 8)) & 1) << i;
        return value;
    }

    // The size header's U32: a 2-bit selector, then 9, 13, 18 or 30 bits, plus one.
    std::optional<quint32> dimension()
    {
        static constexpr std::array<int, 4> widths{9, 13, 18, 30};
        const auto selector = bits(2);
        if (!selector)
            return std::nullopt;
        const auto value = bits(widths[*selector]);
        if (!value)
            return std::nullopt;
        return *value + 1;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_position = 0;
};

std::optional<QSize> parseCodestreamSize(QByteArrayView codestream)
{
    if (codestream.size() < 2 || at(codestream, 0) != 0xFF || at(codestream, 1) != 0x0A)
        return std::nullopt;
    BitReader reader(codestream.sliced(2));
    const auto small = reader.bits(1);
    if (!small)
        return std::nullopt;
    std::optional<quint32> height;
    if (*small) {
        const auto eighths = reader.bits(5);
        if (eighths)
            height = (*eighths + 1) * 8;
    } else {
        height = reader.dimension();
    }
    const auto ratio = reader.bits(3);
    if (!height || !ratio)
        return std::nullopt;

    quint64 width = 0;
    if (*ratio == 0) {
        std::optional<quint32> value;
        if (*small) {
            const auto eighths = reader.bits(5);
            if (eighths)
                value = (*eighths + 1) * 8;
        } else {
            value = reader.dimension();
        }
        if (!value)
            return std::nullopt;
        width = *value;
    } else {
        static constexpr std::array<std::pair<int, int>, 8> ratios{
            {{1, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}}};
        const auto [numerator, denominator] = ratios[*ratio];
        width = quint64(*height) * quint64(numerator) / quint64(denominator);
    }
    // QSize holds ints; a size beyond that is no image any tool here could handle.
    if (width > quint64(std::numeric_limits<int>::max()) || *height > quint32(std::numeric_limits<int>::max()))
        return std::nullopt;
    return QSize(int(width), int(*height));
}

constexpr char kContainerSignature[] = "\x00\x00\x00\x0C" "JXL " "\x0D\x0A\x87\x0A";
constexpr qsizetype kContainerSignatureSize = 12;

bool isContainer(QByteArrayView bytes)
{
    return bytes.size() >= kContainerSignatureSize
        && bytes.first(kContainerSignatureSize) == QByteArrayView(kContainerSignature, kContainerSignatureSize);
}

// Enough of a codestream to hold its size header (at most 2 + 1 + 32 + 3 + 32 bits).
constexpr qsizetype kCodestreamHead = 16;

std::optional<qint64> pixelCount(std::optional<QSize> size)
{
    if (!size || size->isEmpty())
        return std::nullopt;
    return qint64(size->width()) * qint64(size->height());
}

std::optional<qint64> jpegPixelCount(QFile &file)
{
    // Only the frame header and an Adobe segment matter; everything else is skipped by seeking.
    QByteArray kept = QByteArrayLiteral("\xFF\xD8");
    qint64 position = 2;
    for (;;) {
        if (!file.seek(position))
            return std::nullopt;
        const QByteArray marker = file.read(4);
        if (marker.size() < 2 || quint8(marker[0]) != 0xFF)
            return std::nullopt;
        const quint8 type = quint8(marker[1]);
        if (type == 0xFF) {
            ++position;
            continue;
        }
        if (isStandalone(type)) {
            position += 2;
            continue;
        }
        if (type == 0xD9 || type == 0xDA || marker.size() < 4)
            return std::nullopt;
        const quint16 length = be16(marker, 2);
        if (length < 2)
            return std::nullopt;
        if (isFrameMarker(type) || type == 0xEE) {
            const QByteArray body = file.read(length - 2);
            kept += marker + body;
            if (isFrameMarker(type)) {
                const auto header = parseJpegHeader(kept);
                if (!header)
                    return std::nullopt;
                return pixelCount(QSize(header->width, header->height));
            }
        }
        position += 2 + length;
    }
}

std::optional<qint64> jxlContainerPixelCount(QFile &file)
{
    QByteArray codestream;
    const qint64 fileSize = file.size();
    qint64 position = kContainerSignatureSize;
    while (position + 8 <= fileSize && codestream.size() < kCodestreamHead) {
        if (!file.seek(position))
            return std::nullopt;
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            return std::nullopt;
        quint64 boxSize = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        qint64 headerSize = 8;
        if (boxSize == 1) {
            if (header.size() < 16)
                return std::nullopt;
            boxSize = qFromBigEndian<quint64>(header.constData() + 8);
            headerSize = 16;
        } else if (boxSize == 0) {
            boxSize = quint64(fileSize - position);
        }
        if (boxSize < quint64(headerSize) || boxSize > quint64(fileSize - position))
            return std::nullopt;
        if (type == "jxlc" || type == "jxlp") {
            const qint64 skip = type == "jxlp" ? 4 : 0; // a jxlp box starts with its sequence number
            const qint64 payload = qint64(boxSize) - headerSize - skip;
            if (payload > 0 && file.seek(position + headerSize + skip))
                codestream += file.read(qMin<qint64>(payload, kCodestreamHead - codestream.size()));
            if (type == "jxlc")
                break;
        }
        position += qint64(boxSize);
    }
    return pixelCount(parseCodestreamSize(codestream));
}

} // namespace

std::optional<JpegHeader> parseJpegHeader(QByteArrayView bytes)
{
    if (bytes.size() < 4 || at(bytes, 0) != 0xFF || at(bytes, 1) != 0xD8)
        return std::nullopt;

    JpegHeader header;
    header.endsWithEoi = at(bytes, bytes.size() - 2) == 0xFF && at(bytes, bytes.size() - 1) == 0xD9;
    bool haveFrame = false;
    walkSegments(bytes, [&](quint8 marker, QByteArrayView segment) {
        if (marker == 0xDA) {
            header.reachedScan = haveFrame;
            return false;
        }
        if (isFrameMarker(marker) && !haveFrame) {
            if (!readFrame(marker, segment, header))
                return false;
            haveFrame = true;
        } else if (marker == 0xEE && segment.size() >= 12 && segment.first(5) == QByteArrayView("Adobe")) {
            header.adobeTransform = at(segment, 11);
        }
        return true;
    });
    if (!haveFrame)
        return std::nullopt;
    return header;
}

std::optional<JpegExif> parseJpegExif(QByteArrayView bytes)
{
    if (bytes.size() < 4 || at(bytes, 0) != 0xFF || at(bytes, 1) != 0xD8)
        return std::nullopt;
    std::optional<JpegExif> exif;
    walkSegments(bytes, [&](quint8 marker, QByteArrayView segment) {
        if (marker == 0xDA)
            return false;
        if (marker == 0xE1 && segment.size() >= 6 && segment.first(6) == QByteArrayView("Exif\0\0", 6)) {
            exif = readTiff(segment.sliced(6));
            return false;
        }
        return true;
    });
    return exif;
}

std::optional<QSize> parseJxlSize(QByteArrayView bytes)
{
    if (!isContainer(bytes))
        return parseCodestreamSize(bytes);

    QByteArray codestream;
    qsizetype position = kContainerSignatureSize;
    while (position + 8 <= bytes.size() && codestream.size() < kCodestreamHead) {
        quint64 boxSize = qFromBigEndian<quint32>(bytes.data() + position);
        const QByteArrayView type = bytes.sliced(position + 4, 4);
        qsizetype headerSize = 8;
        if (boxSize == 1) {
            if (position + 16 > bytes.size())
                break;
            boxSize = qFromBigEndian<quint64>(bytes.data() + position + 8);
            headerSize = 16;
        } else if (boxSize == 0) {
            boxSize = quint64(bytes.size() - position);
        }
        if (boxSize < quint64(headerSize))
            break;
        // The bytes may be only the head of a file: take what there is of the box.
        const qsizetype end = qsizetype(qMin<quint64>(boxSize, quint64(bytes.size() - position))) + position;
        if (type == QByteArrayView("jxlc") || type == QByteArrayView("jxlp")) {
            const qsizetype start = position + headerSize + (type == QByteArrayView("jxlp") ? 4 : 0);
            if (start < end)
                codestream += bytes.sliced(start, end - start).toByteArray();
            if (type == QByteArrayView("jxlc"))
                break;
        }
        if (boxSize > quint64(bytes.size() - position))
            break;
        position += qsizetype(boxSize);
    }
    return parseCodestreamSize(codestream);
}

std::optional<qint64> imagePixelCount(const QString &path)
{
    // Opening a pipe for reading would wait for a writer.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(kContainerSignatureSize);
    if (head.size() >= 2 && quint8(head[0]) == 0xFF && quint8(head[1]) == 0xD8)
        return jpegPixelCount(file);
    if (head.size() >= 2 && quint8(head[0]) == 0xFF && quint8(head[1]) == 0x0A) {
        file.seek(0);
        return pixelCount(parseCodestreamSize(file.read(kCodestreamHead)));
    }
    if (isContainer(head))
        return jxlContainerPixelCount(file);
    return std::nullopt;
}
