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

#include <cmath>

namespace Thumbnailer {

namespace {

QString thumbnailRoot()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/thumbnails");
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
