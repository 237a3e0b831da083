#include "imaging/photodecoder.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>

#include <algorithm>
#include <limits>

namespace PhotoDecoder {

namespace {

QImage readScaled(QImageReader &reader, int maxEdge)
{
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > maxEdge || size.height() > maxEdge))
        reader.setScaledSize(size.scaled(maxEdge, maxEdge, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > maxEdge || image.height() > maxEdge))
        image = image.scaled(maxEdge, maxEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

bool isJxl(QByteArrayView head)
{
    const JxlSignature signature =
        JxlSignatureCheck(reinterpret_cast<const uint8_t *>(head.data()), size_t(head.size()));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

qint64 pixelLimit()
{
    return qint64(QImageReader::allocationLimit()) * 1024 * 1024 / 4;
}

QImage decodeJxl(const QByteArray &bytes, int maxEdge, JxlPath *jxlPath)
{
    if (jxlPath)
        *jxlPath = JxlPath::none;
    if (maxEdge < 1)
        return {};
    JxlDecoderPtr decoder = JxlDecoderMake(nullptr);
    if (!decoder)
        return {};
    JxlDecoder *dec = decoder.get();
    if (JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE)
            != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(dec, reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size()))
               != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(dec);

    // A rebuilt JPEG is never far larger than the JXL it came from; the cap guards a crafted file.
    const qsizetype jpegCap = std::min<qint64>(qint64(bytes.size()) * 8 + (1 << 20),
                                               std::numeric_limits<int>::max() / 2);
    JxlBasicInfo info{};
    QByteArray jpeg;
    qsizetype jpegUsed = 0;
    bool reconstructing = false;
    QImage pixels;
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

    for (;;) {
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_BASIC_INFO:
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS || info.xsize == 0 || info.ysize == 0
                || qint64(info.xsize) * qint64(info.ysize) > pixelLimit())
                return {};
            break;
        case JXL_DEC_JPEG_RECONSTRUCTION:
            reconstructing = true;
            jpeg.resize(std::min<qsizetype>(qsizetype(bytes.size()) * 2 + 65536, jpegCap));
            if (JxlDecoderSetJPEGBuffer(dec, reinterpret_cast<uint8_t *>(jpeg.data()), size_t(jpeg.size()))
                != JXL_DEC_SUCCESS)
                return {};
            break;
        case JXL_DEC_JPEG_NEED_MORE_OUTPUT: {
            jpegUsed = jpeg.size() - qsizetype(JxlDecoderReleaseJPEGBuffer(dec));
            if (jpeg.size() >= jpegCap)
                return {};
            jpeg.resize(std::min<qsizetype>(jpeg.size() * 2, jpegCap));
            if (JxlDecoderSetJPEGBuffer(dec, reinterpret_cast<uint8_t *>(jpeg.data() + jpegUsed),
                                        size_t(jpeg.size() - jpegUsed))
                != JXL_DEC_SUCCESS)
                return {};
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS)
                return {};
            // Oriented size: the decoder turns the picture upright.
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            pixels = QImage(int(turned ? info.ysize : info.xsize), int(turned ? info.xsize : info.ysize),
                            QImage::Format_RGBA8888);
            if (pixels.isNull() || size_t(pixels.sizeInBytes()) < needed)
                return {};
            if (JxlDecoderSetImageOutBuffer(dec, &format, pixels.bits(), size_t(pixels.sizeInBytes()))
                != JXL_DEC_SUCCESS)
                return {};
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            if (reconstructing) {
                jpeg.truncate(jpeg.size() - qsizetype(JxlDecoderReleaseJPEGBuffer(dec)));
                QBuffer buffer(&jpeg);
                QImageReader reader(&buffer, "jpeg");
                QImage image = readScaled(reader, maxEdge);
                if (jxlPath && !image.isNull())
                    *jxlPath = JxlPath::reconstructedJpeg;
                return image;
            }
            if (pixels.isNull())
                return {};
            if (jxlPath)
                *jxlPath = JxlPath::pixels;
            // The first frame is the picture; later frames of an animation are not needed.
            if (pixels.width() > maxEdge || pixels.height() > maxEdge)
                return pixels.scaled(maxEdge, maxEdge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            return pixels;
        case JXL_DEC_SUCCESS:
        case JXL_DEC_NEED_MORE_INPUT: // the whole file was given: it is cut short
        case JXL_DEC_ERROR:
        default:
            return {};
        }
    }
}

QImage decode(const QString &path, int maxEdge, JxlPath *jxlPath)
{
    if (jxlPath)
        *jxlPath = JxlPath::none;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (isJxl(file.peek(16))) {
        // The whole file: the JPEG it rebuilds needs every byte anyway.
        if (file.size() > qint64(QImageReader::allocationLimit()) * 1024 * 1024)
            return {};
        return decodeJxl(file.readAll(), maxEdge, jxlPath);
    }
    QImageReader reader(&file);
    return readScaled(reader, maxEdge);
}

} // namespace PhotoDecoder
