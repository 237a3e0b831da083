#include "imageheader.h"

#include "bytesource.h"
#include "jxlsignature.h"

#include <QFile>
#include <QFileInfo>

namespace {

std::optional<qint64> pixelCount(std::optional<QSize> size)
{
    if (!size || size->isEmpty())
        return std::nullopt;
    return qint64(size->width()) * qint64(size->height());
}

} // namespace

std::optional<qint64> imagePixelCount(const QString &path)
{
    // Opening a pipe for reading would wait for a writer.
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only the headers are read, by seeking: a large Exif segment or box is skipped, not read.
    const ByteSource source(&file);
    const QByteArray head = source.read(0, JxlSignature::headLength);
    if (head.startsWith("\xFF\xD8")) {
        const std::optional<JpegHeader> frame = readJpegFrame(source);
        return frame ? pixelCount(QSize(frame->width, frame->height)) : std::nullopt;
    }
    if (JxlSignature::identify(head) != JxlSignature::Kind::none)
        return pixelCount(readJxlSize(source));
    return std::nullopt;
}
