#include "jxlcontainer.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace JXLContainer {

namespace {

const char kSignatureBox[] = "\x00\x00\x00\x0C" "JXL " "\x0D\x0A\x87\x0A";
constexpr qint64 kSignatureSize = 12;

} // namespace

Info inspect(const QString &path)
{
    Info info;
    // Opening a pipe for reading would wait for a writer; a folder has no boxes.
    if (!QFileInfo(path).isFile())
        return info;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return info;

    const QByteArray head = file.read(kSignatureSize);
    if (head.size() >= 2 && quint8(head[0]) == 0xFF && quint8(head[1]) == 0x0A) {
        info.kind = Kind::bareCodestream;
        return info;
    }
    if (head != QByteArray::fromRawData(kSignatureBox, kSignatureSize)) {
        info.kind = Kind::notJXL;
        return info;
    }
    info.kind = Kind::container;

    const qint64 fileSize = file.size();
    qint64 offset = kSignatureSize;
    while (offset + 8 <= fileSize) {
        if (!file.seek(offset))
            break;
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            break;
        quint64 boxSize = qFromBigEndian<quint32>(header.constData());
        const QByteArray type = header.mid(4, 4);
        qint64 headerSize = 8;
        if (boxSize == 1) {
            if (header.size() < 16)
                break;
            boxSize = qFromBigEndian<quint64>(header.constData() + 8);
            headerSize = 16;
        } else if (boxSize == 0) {
            boxSize = quint64(fileSize - offset); // the last box runs to the end of the file
        }
        if (type == "jbrd") {
            info.hasJpegReconstruction = true;
            return info;
        }
        if (boxSize < quint64(headerSize) || boxSize > quint64(fileSize - offset))
            break; // a malformed size ends the walk rather than looping or jumping outside the file
        offset += qint64(boxSize);
    }
    return info;
}

} // namespace JXLContainer
