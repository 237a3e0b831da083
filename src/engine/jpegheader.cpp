#include "jpegheader.h"

#include "bytefields.h"
#include "bytesource.h"
#include "jpegsegments.h"

namespace {

bool readFrame(quint8 marker, QByteArrayView segment, JpegHeader &header)
{
    const auto byte = [segment](qint64 offset) { return int(ByteFields::u8(segment, offset).value_or(0)); };
    const std::optional<quint8> count = ByteFields::u8(segment, 5);
    if (!count || segment.size() < 6 + 3 * qsizetype(*count))
        return false;
    header.frameMarker = marker;
    const int type = marker & 0x0F;
    header.arithmetic = marker >= 0xC9;
    header.progressive = type == 2 || type == 6 || type == 10 || type == 14;
    header.lossless = type == 3 || type == 7 || type == 11 || type == 15;
    header.hierarchical = (type >= 5 && type <= 7) || type >= 13;
    header.precision = byte(0);
    header.height = *ByteFields::be16(segment, 1);
    header.width = *ByteFields::be16(segment, 3);
    header.components = *count;
    header.componentInfo.clear();
    for (int i = 0; i < *count; ++i) {
        const int factors = byte(7 + 3 * i);
        header.componentInfo.append({byte(6 + 3 * i), factors >> 4, factors & 0x0F});
    }
    return true;
}

bool startsWithSoi(QByteArrayView head)
{
    return ByteFields::u8(head, 0) == 0xFF && ByteFields::u8(head, 1) == 0xD8;
}

} // namespace

std::optional<JpegHeader> parseJpegHeader(QByteArrayView bytes)
{
    if (bytes.size() < 4 || !startsWithSoi(bytes))
        return std::nullopt;

    const ByteSource source(bytes);
    JpegHeader header;
    header.endsWithEoi = bytes.endsWith(QByteArrayView("\xFF\xD9", 2));
    bool haveFrame = false;
    JpegSegments::walk(source, [&](const JpegSegments::Segment &segment) {
        if (segment.marker == 0xDA) {
            header.reachedScan = haveFrame;
            return false;
        }
        if (JpegSegments::isFrameMarker(segment.marker) && !haveFrame) {
            if (!readFrame(segment.marker, source.read(segment.offset, segment.length), header))
                return false;
            haveFrame = true;
        } else if (segment.marker == 0xEE) {
            const QByteArray body = source.read(segment.offset, segment.length);
            if (body.size() >= 12 && body.startsWith("Adobe"))
                header.adobeTransform = quint8(body.at(11));
        }
        return true;
    });
    if (!haveFrame)
        return std::nullopt;
    return header;
}

std::optional<JpegHeader> readJpegFrame(const ByteSource &source)
{
    if (!startsWithSoi(source.read(0, 2)))
        return std::nullopt;
    std::optional<JpegHeader> frame;
    JpegSegments::walk(source, [&](const JpegSegments::Segment &segment) {
        if (!JpegSegments::isFrameMarker(segment.marker))
            return true;
        JpegHeader header;
        if (readFrame(segment.marker, source.read(segment.offset, segment.length), header))
            frame = header;
        return false;
    });
    return frame;
}
