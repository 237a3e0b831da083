// JPEG markers and Exif: the frame header, the Exif orientation and thumbnail, and the frame read
// from a device by seeking, which must agree with the one read from memory.
#include "engine/bytesource.h"
#include "engine/jpegexif.h"
#include "engine/jpegheader.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));

    const std::optional<JpegHeader> header = parseJpegHeader(bytes);
    if (header && header->components != header->componentInfo.size())
        qFatal("the component list does not match the component count");

    if (const std::optional<JpegExif> exif = parseJpegExif(bytes)) {
        if (exif->orientation < 1 || exif->orientation > 8)
            qFatal("orientation %d out of range", exif->orientation);
        const QByteArrayView thumbnail = exif->thumbnail;
        if (!thumbnail.isEmpty()
            && (thumbnail.data() < bytes.constData() || thumbnail.data() + thumbnail.size() > bytes.constEnd()))
            qFatal("the Exif thumbnail lies outside the bytes given");
    }

    QByteArray copy = bytes;
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    const std::optional<JpegHeader> frame = readJpegFrame(ByteSource(&device));
    if (header.has_value() != frame.has_value()
        || (header && (header->width != frame->width || header->height != frame->height)))
        qFatal("the frame read by seeking differs from the one read from memory");
    return 0;
}
