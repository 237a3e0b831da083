#include "jpegsegments.h"

#include "bytefields.h"
#include "bytesource.h"

namespace JpegSegments {

bool isFrameMarker(quint8 marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool isStandalone(quint8 marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8);
}

void walk(const ByteSource &source, const std::function<bool(const Segment &)> &visit)
{
    qint64 position = 2;
    while (position + 2 <= source.size()) {
        const QByteArray head = source.read(position, 4);
        if (ByteFields::u8(head, 0) != 0xFF)
            return; // not a marker where one must be: the rest cannot be trusted
        const std::optional<quint8> marker = ByteFields::u8(head, 1);
        if (!marker)
            return;
        if (*marker == 0xFF) {
            ++position; // fill byte
            continue;
        }
        if (isStandalone(*marker)) {
            position += 2;
            continue;
        }
        const std::optional<quint16> length = ByteFields::be16(head, 2);
        if (*marker == 0xD9 || !length || *length < 2)
            return;
        if (!visit({*marker, position + 4, qint64(*length) - 2}) || *marker == 0xDA)
            return;
        position += 2 + *length;
    }
}

} // namespace JpegSegments
