#pragma once

#include "imaging/photodecoder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QImage>
#include <QString>

// Making small pictures of photos, off the GUI thread: the desktop's shared thumbnail cache
// (~/.cache/thumbnails, shared with file managers) first, else a scaled decode by PhotoDecoder,
// the same one pikora-thumbnailer gives the file managers. All functions are thread-safe and touch
// no widget.
namespace Thumbnailer {

// Edge of the shared cache's "normal" thumbnails, the size Pikora writes.
constexpr int kNormalSize = 128;
constexpr int kLargeSize = 256;

// The file's URI as the shared cache keys it, and the cache file for it (normal or large).
QString fileUri(const QString &path);
QString cachePath(const QString &path, int size);

// The cached thumbnail of the file made for this modification time (seconds), from the large
// folder when wanted is above the normal size, else the normal one; a null image when there is
// none or it is stale.
QImage readCached(const QString &path, qint64 mtime, int wanted);
// Stores a thumbnail (at most kNormalSize) in the normal folder, atomically, private to the user.
bool writeCached(const QString &path, qint64 mtime, const QImage &thumbnail, const QString &mimeType);

// The photo scaled to fit within maxEdge (never enlarged), upright; null when it cannot be read.
using PhotoDecoder::decode;
using PhotoDecoder::decodeJxl;
using JxlPath = PhotoDecoder::JxlPath;

// How much of a JPEG is read for its embedded thumbnail: the Exif segment and the frame header
// come first, and the Exif segment is at most 64 KiB.
constexpr qint64 kHeadBytes = 128 * 1024;

// The embedded Exif thumbnail of the JPEG whose first bytes are head, turned upright as the photo
// is, when it can stand for the photo in a square of side pixels: its shorter edge at least side
// and the photo's shape (a letterboxed thumbnail, or the stale one of a cropped photo, is not).
// Null otherwise.
QImage exifThumbnail(QByteArrayView head, int side);

// The middle square of an image, scaled to side (what a square thumbnail shows).
QImage squareCrop(const QImage &image, int side);

struct Result
{
    QString path;
    qint64 mtime = -1;
    QImage image; // side × side; null when the file could not be read
    bool fromSharedCache = false;
    bool fromExif = false;
    // A decoded picture still to be put in the shared cache by store(), with its MIME type.
    QImage unstored;
    QString mimeType;
};

// A square thumbnail of side pixels: the shared cache's when fresh, else the JPEG's own embedded
// one when it will do, else decoded (and then stored in the shared cache for other applications;
// an embedded thumbnail is not: it may be stale, and other applications trust that cache).
Result make(const QString &path, int side);
// The same, leaving the shared cache to store(): the thumbnail can be shown before the PNG is
// encoded and synced to disk.
Result makeUnstored(const QString &path, int side);
void store(Result &result);

} // namespace Thumbnailer
