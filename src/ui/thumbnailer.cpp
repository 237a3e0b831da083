#include "ui/thumbnailer.h"

#include "engine/imageheader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTransform>
#include <QUrl>

#include <jxl/decode.h>
#include <jxl/decode_cxx.h>

#include <cmath>
#include <limits>

namespace Thumbnailer {

namespace {

QString thumbnailRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
}

bool isJxl(const QByteArray &head)
{
    const JxlSignature signature =
        JxlSignatureCheck(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size()));
    return signature == JXL_SIG_CODESTREAM || signature == JXL_SIG_CONTAINER;
}

// Largest picture we agree to hold in memory, as Qt's own readers do.
qint64 pixelLimit()
{
    return qint64(QImageReader::allocationLimit()) * 1024 * 1024 / 4;
}

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

// An image stored as the Exif orientation says, turned upright.
QImage upright(const QImage &image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

} // namespace

QString fileUri(const QString &path)
{
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded);
}

QString cachePath(const QString &path, int size)
{
    const QByteArray digest = QCryptographicHash::hash(fileUri(path).toUtf8(), QCryptographicHash::Md5).toHex();
    const QString folder = size > kNormalSize ? QStringLiteral("/large/") : QStringLiteral("/normal/");
    return thumbnailRoot() + folder + QString::fromLatin1(digest) + QStringLiteral(".png");
}

QImage readCached(const QString &path, qint64 mtime, int wanted)
{
    const QString uri = fileUri(path);
    // A larger picture scales down well; a smaller one would look blurred.
    QList<int> sizes{kLargeSize};
    if (wanted <= kNormalSize)
        sizes.prepend(kNormalSize);
    for (const int size : sizes) {
        // QImageReader::text() splits keys at their first colon, which these keys contain: the
        // small PNG is read whole and its text taken from the image.
        QImageReader reader(cachePath(path, size), "png");
        QImage image = reader.read();
        if (!image.isNull() && image.text(QStringLiteral("Thumb::URI")) == uri
            && image.text(QStringLiteral("Thumb::MTime")) == QString::number(mtime))
            return image;
    }
    return {};
}

bool writeCached(const QString &path, qint64 mtime, const QImage &thumbnail, const QString &mimeType)
{
    if (thumbnail.isNull())
        return false;
    const QString target = cachePath(path, kNormalSize);
    const QString folder = QFileInfo(target).absolutePath();
    // Thumbnails of the thumbnails themselves would only grow the cache.
    if (QFileInfo(path).absoluteFilePath().startsWith(thumbnailRoot() + QLatin1Char('/')))
        return false;
    if (!QDir().mkpath(folder))
        return false;
    QFile::setPermissions(thumbnailRoot(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QImage image = thumbnail;
    // Stored in sRGB without the photo's profile: small, and what readers of the cache assume.
    if (image.colorSpace().isValid() && image.colorSpace() != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
    image.setColorSpace(QColorSpace());
    if (image.width() > kNormalSize || image.height() > kNormalSize)
        image = image.scaled(kNormalSize, kNormalSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    image.setText(QStringLiteral("Thumb::URI"), fileUri(path));
    image.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
    image.setText(QStringLiteral("Thumb::Size"), QString::number(QFileInfo(path).size()));
    if (!mimeType.isEmpty())
        image.setText(QStringLiteral("Thumb::Mimetype"), mimeType);
    image.setText(QStringLiteral("Software"), QStringLiteral("Pikora"));

    // Written beside the target and renamed over it, so no reader sees half a file.
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    if (!image.save(&file, "png"))
        return false;
    return file.commit();
}

QImage decodeJxl(const QByteArray &bytes, int maxEdge, JxlPath *jxlPath)
{
    if (jxlPath)
        *jxlPath = JxlPath::none;
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

QImage exifThumbnail(QByteArrayView head, int side)
{
    const std::optional<JpegExif> exif = parseJpegExif(head);
    if (!exif || exif->thumbnail.isEmpty())
        return {};
    const std::optional<JpegHeader> photo = parseJpegHeader(head);
    if (!photo || photo->width < 1 || photo->height < 1)
        return {};

    QByteArray bytes = exif->thumbnail.toByteArray();
    QBuffer buffer(&bytes);
    QImageReader reader(&buffer, "jpeg");
    // Its own orientation, if it had any, is not what the photo is shown by.
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    // Too small for the square; or far larger than any thumbnail a camera writes, which only a
    // crafted file would claim.
    if (!size.isValid() || std::min(size.width(), size.height()) < side || size.width() > 1024 || size.height() > 1024)
        return {};
    // Stored as the photo is, before turning: heights compared at the same width, a pixel of
    // rounding allowed for the smallest thumbnails.
    const double expectedHeight = double(size.width()) * photo->height / photo->width;
    if (std::abs(expectedHeight - size.height()) > std::max(1.0, 0.02 * size.height()))
        return {};
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    return upright(image, exif->orientation);
}

QImage squareCrop(const QImage &image, int side)
{
    if (image.isNull() || side < 1)
        return {};
    const QImage filled = image.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return filled.copy((filled.width() - side) / 2, (filled.height() - side) / 2, side, side)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

Result make(const QString &path, int side)
{
    Result result = makeUnstored(path, side);
    store(result);
    return result;
}

void store(Result &result)
{
    if (!result.unstored.isNull())
        writeCached(result.path, result.mtime, result.unstored, result.mimeType);
    result.unstored = QImage();
}

Result makeUnstored(const QString &path, int side)
{
    Result result;
    result.path = path;
    const QFileInfo info(path);
    if (!info.isFile())
        return result;
    result.mtime = info.lastModified().toSecsSinceEpoch();

    QImage picture = readCached(path, result.mtime, side);
    result.fromSharedCache = !picture.isNull();
    if (picture.isNull()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray head = file.read(kHeadBytes);
            picture = exifThumbnail(head, side);
            result.fromExif = !picture.isNull();
        }
    }
    if (picture.isNull()) {
        JxlPath jxl = JxlPath::none;
        picture = decode(path, kNormalSize, &jxl);
        if (!picture.isNull()) {
            result.unstored = picture;
            result.mimeType =
                jxl == JxlPath::none ? QMimeDatabase().mimeTypeForFile(info).name() : QStringLiteral("image/jxl");
        }
    }
    result.image = squareCrop(picture, side);
    return result;
}

} // namespace Thumbnailer
