#include "boxwalker.h"

#include "bytefields.h"
#include "bytesource.h"

namespace BoxWalker {

void walk(const ByteSource &source, qint64 start, const std::function<bool(const Box &)> &visit)
{
    qint64 position = start;
    while (position >= 0 && position + 8 <= source.size()) {
        const QByteArray header = source.read(position, 16);
        const std::optional<quint32> shortSize = ByteFields::be32(header, 0);
        if (!shortSize || header.size() < 8)
            return;
        quint64 size = *shortSize;
        qint64 headerSize = 8;
        if (size == 1) {
            const std::optional<quint64> largeSize = ByteFields::be64(header, 8);
            if (!largeSize)
                return;
            size = *largeSize;
            headerSize = 16;
        } else if (size == 0) {
            size = quint64(source.size() - position);
        }
        if (size < quint64(headerSize))
            return; // a box smaller than its own header would hold the walk in place
        const quint64 room = quint64(source.size() - position);
        const Box box{header.mid(4, 4), position + headerSize, position + qint64(qMin(size, room)), size <= room};
        if (!visit(box) || !box.complete)
            return;
        position += qint64(size);
    }
}

} // namespace BoxWalker
