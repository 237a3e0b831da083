#include "engine/imageheader.h"
#include "exifjpeg.h"
#include "testenv.h"
#include "testpictures.h"
#include "ui/thumbnailcache.h"
#include "ui/thumbnailer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// A picture of one colour; with content, the colour only there, between black bars, as cameras
// letterbox a photo of another shape in its thumbnail.
QImage flat(QSize size, const QColor &color, QSize content = {})
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(content.isEmpty() ? color : QColor(Qt::black));
    if (!content.isEmpty())
        QPainter(&image).fillRect(QRect(QPoint(0, (size.height() - content.height()) / 2), content), color);
    return image;
}

using namespace TestPictures;

qint64 mtimeOf(const QString &path)
{
    return QFileInfo(path).lastModified().toSecsSinceEpoch();
}

} // namespace

// Thumbnails: the desktop's shared cache read and written (JPEG XL decoding is tst_thumbnailer's), the Exif
// thumbnail a camera embeds, and the memory cache the table asks.
class TestUiThumbnails final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString writeImage(const QString &name, const QImage &image, const QByteArray &bytes = {})
    {
        const QString path = m_root.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!bytes.isEmpty())
            TestEnv::writeAll(path, bytes);
        else if (!image.save(path, "jpeg", 95))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.path());
    }

    void readsTheSharedCache_data()
    {
        QTest::addColumn<bool>("sameUri");
        QTest::addColumn<int>("mtimeShift");
        QTest::addColumn<bool>("fromCache");
        QTest::newRow("fresh entry") << true << 0 << true;
        QTest::newRow("file changed since") << true << -60 << false;
        QTest::newRow("entry of another file") << false << 0 << false;
    }

    void readsTheSharedCache()
    {
        QFETCH(bool, sameUri);
        QFETCH(int, mtimeShift);
        QFETCH(bool, fromCache);
        const QString photo = writeImage(u"shared/%1.jpg"_s.arg(QLatin1String(QTest::currentDataTag())), flat(QSize(640, 480), Qt::red));
        // A green entry, as a file manager would have written it.
        QImage entry = flat(QSize(128, 96), Qt::green);
        entry.setText(u"Thumb::URI"_s, sameUri ? Thumbnailer::fileUri(photo) : u"file:///elsewhere.jpg"_s);
        entry.setText(u"Thumb::MTime"_s, QString::number(mtimeOf(photo) + mtimeShift));
        QDir().mkpath(QFileInfo(Thumbnailer::cachePath(photo, 128)).absolutePath());
        QVERIFY(entry.save(Thumbnailer::cachePath(photo, 128), "png"));

        const Thumbnailer::Result result = Thumbnailer::make(photo, 52);
        QCOMPARE(result.image.size(), QSize(52, 52));
        QCOMPARE(result.fromSharedCache, fromCache);
        QCOMPARE(result.mtime, mtimeOf(photo));
        QVERIFY(near(average(result.image), fromCache ? QColor(Qt::green) : QColor(Qt::red), 14));
        // A stale or foreign entry is replaced by one made from the file.
        QCOMPARE(QImage(Thumbnailer::cachePath(photo, 128)).text(u"Thumb::MTime"_s).toLongLong(), mtimeOf(photo) + (fromCache ? mtimeShift : 0));
    }

    void writesTheSharedCache_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("mimeType");
        // File managers that cannot read JPEG XL show converted photos from this entry.
        QTest::newRow("JPEG") << u"jpeg/cameras/Canon_40D.jpg"_s << u"image/jpeg"_s;
        QTest::newRow("JPEG XL") << u"jxl/from-jpeg.jxl"_s << u"image/jxl"_s;
    }

    void writesTheSharedCache()
    {
        QFETCH(QString, source);
        QFETCH(QString, mimeType);
        const QString photo = TestEnv::copyData(source, m_root.filePath(u"written/a b ü"_s));
        const QString large = writeImage(u"written/large.jpg"_s, flat(QSize(1200, 900), Qt::red));
        QCOMPARE(Thumbnailer::make(large, 52).image.size(), QSize(52, 52));
        QCOMPARE(QImage(Thumbnailer::cachePath(large, 128)).size(), QSize(128, 96));
        QFile::remove(Thumbnailer::cachePath(photo, 128));
        const Thumbnailer::Result made = Thumbnailer::make(photo, 52);
        QVERIFY(!made.image.isNull() && !made.fromSharedCache);

        // The shared layout: ~/.cache/thumbnails/normal/<md5 of the percent-encoded URI>.png.
        const QString entry = Thumbnailer::cachePath(photo, 128);
        const QString uri = Thumbnailer::fileUri(photo);
        QVERIFY2(uri.startsWith(u"file:///"_s) && uri.contains(u"/written/a%20b%20%C3%BC/"_s), qPrintable(uri));
        const QString md5 = QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex());
        QCOMPARE(entry, m_root.filePath(u"home/.cache/thumbnails/normal/"_s) + md5 + u".png"_s);
        QCOMPARE(Thumbnailer::cachePath(photo, 256), QString(entry).replace(u"/normal/"_s, u"/large/"_s));
        QCOMPARE(QImageReader(entry).format(), QByteArray("png"));
        const QImage written(entry);
        QCOMPARE(written.text(u"Thumb::URI"_s), uri);
        QCOMPARE(written.text(u"Thumb::MTime"_s), QString::number(mtimeOf(photo)));
        QCOMPARE(written.text(u"Thumb::Mimetype"_s), mimeType);
        QCOMPARE(written.text(u"Thumb::Size"_s), QString::number(QFileInfo(photo).size()));
        QCOMPARE(written.size(), QSize(100, 68)); // the photo's own size: small pictures are never enlarged
        QCOMPARE(QFileInfo(entry).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        const QStringList entries = TestEnv::entries(QFileInfo(entry).absolutePath());
        QCOMPARE(entries.filter(u".png"_s).size(), entries.size()); // no leftover temporary
        // The next request reads the entry instead of decoding the photo.
        QVERIFY(Thumbnailer::make(photo, 52).fromSharedCache);
        // Never a thumbnail of the cache's own pictures.
        QVERIFY(!Thumbnailer::writeCached(entry, 1, written, QString()));
        QVERIFY(!QFile::exists(Thumbnailer::cachePath(entry, 128)));
    }

    // One damaged layout stands for all: damage at random is fuzz_jpegheader's, under the address
    // sanitizer. A damaged thumbnail is not taken; the orientation still is.
    void exifSegments_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("orientation"); // 0: no Exif found
        QTest::addColumn<QByteArray>("thumbnail"); // empty: none found
        const QByteArray photo = ExifJpeg::jpeg(flat(QSize(64, 48), Qt::red));
        const QByteArray thumbnail = ExifJpeg::jpeg(flat(QSize(32, 24), Qt::blue));
        const auto with = [&](ExifJpeg::Layout layout) { return ExifJpeg::withExif(photo, layout); };
        QTest::newRow("little-endian") << with({false, 6, thumbnail, {}, {}, {}}) << 6 << thumbnail;
        QTest::newRow("big-endian") << with({true, 8, thumbnail, {}, {}, {}}) << 8 << thumbnail;
        QTest::newRow("orientation out of range") << with({true, 9, thumbnail, {}, {}, {}}) << 1 << thumbnail;
        QTest::newRow("no second directory") << with({false, 3, {}, {}, {}, {}}) << 3 << QByteArray();
        QTest::newRow("thumbnail longer than the segment")
            << with({true, 6, thumbnail, {}, {}, quint32(thumbnail.size() + 1)}) << 6 << QByteArray();
        QTest::newRow("no Exif segment") << photo << 0 << QByteArray();
        // The segment after the first scan is pixel data, not a header.
        const QByteArray afterScan = photo.left(2) + QByteArrayLiteral("\xFF\xDA\x00\x02") + ExifJpeg::segment({false, 6, thumbnail, {}, {}, {}});
        QTest::newRow("Exif after the scan") << afterScan << 0 << QByteArray();
    }

    void exifSegments()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, orientation);
        QFETCH(QByteArray, thumbnail);
        const std::optional<JpegExif> exif = parseJpegExif(bytes);
        QCOMPARE(exif ? exif->orientation : 0, orientation);
        QCOMPARE(exif ? exif->thumbnail.toByteArray() : QByteArray(), thumbnail);
    }

    void embeddedThumbnails_data()
    {
        QTest::addColumn<QString>("photo");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("fromExif");
        QTest::addColumn<QColor>("colour"); // of the thumbnail shown
        // Made here: a red photo whose embedded thumbnail is blue, so the colour tells which one shows.
        const auto made = [this](const char *name, QSize photoSize, const QImage &thumbnail, int side, bool used) {
            const QByteArray bytes = ExifJpeg::withExif(ExifJpeg::jpeg(flat(photoSize, Qt::red)),
                                                        {false, 1, thumbnail.isNull() ? QByteArray() : ExifJpeg::jpeg(thumbnail), {}, {}, {}});
            QTest::newRow(name) << writeImage(u"exif/%1.jpg"_s.arg(QLatin1String(name)), {}, bytes) << side << used
                                << QColor(used ? Qt::blue : Qt::red);
        };
        const QImage thumbnail = flat(QSize(160, 120), Qt::blue);
        const QImage small = flat(QSize(64, 48), Qt::blue);
        made("same shape", QSize(640, 480), thumbnail, 52, true);
        made("exactly the square's side", QSize(640, 480), thumbnail, 120, true);
        made("smaller than the square", QSize(640, 480), small, 52, false);
        made("small but enough", QSize(640, 480), small, 40, true);
        made("a pixel off by rounding", QSize(1000, 640), flat(QSize(64, 40), Qt::blue), 26, true);
        made("3:2 letterboxed into 4:3", QSize(600, 400), flat(QSize(160, 120), Qt::blue, QSize(160, 106)), 52, false);
        made("stale, from before a crop", QSize(480, 480), thumbnail, 52, false);
        made("stored the other way round", QSize(480, 640), thumbnail, 52, false);
        made("no thumbnail", QSize(640, 480), QImage(), 52, false);
        // Damaged Exif (its offset past the segment) still yields the photo's own picture.
        QTest::newRow("damaged") << writeImage(u"exif/damaged.jpg"_s, {}, ExifJpeg::withExif(ExifJpeg::jpeg(flat(QSize(640, 480), Qt::red)),
                                                 {false, 1, ExifJpeg::jpeg(thumbnail), {}, 0x7FFFFFF0u, {}})) << 52 << false << QColor(Qt::red);
        // Photos of cameras, which should look as a full decode of them does. The scaled-down
        // samples' 68 × 46 thumbnails are too small for a 52 px square, not for 26.
        for (const auto &[file, side, used] : {std::tuple{"odd-but-lossless/exif-thumbnail.jpg", 52, true},
                                               {"cameras/Canon_40D.jpg", 26, true},
                                               {"cameras/WWL_(Polaroid)_ION230.jpg", 26, true}, // big-endian, portrait
                                               {"cameras/Samsung_Digimax_i50_MP3.jpg", 26, true}, // at the end of a large segment
                                               {"odd-but-lossless/progressive.jpg", 26, false}}) {
            const QString photo = TestEnv::copyData(u"jpeg/"_s + QLatin1String(file), m_root.filePath(u"data-%1"_s.arg(side)));
            QTest::addRow("%s, %d px", file, side) << photo << side << used
                                                   << average(Thumbnailer::squareCrop(Thumbnailer::decode(photo, 128), side));
        }
    }

    void embeddedThumbnails()
    {
        QFETCH(QString, photo);
        QFETCH(int, side);
        QFETCH(bool, fromExif);
        QFETCH(QColor, colour);
        QCOMPARE(Thumbnailer::exifThumbnail(TestEnv::readAll(photo), side).isNull(), !fromExif);
        const Thumbnailer::Result result = Thumbnailer::make(photo, side);
        QCOMPARE(result.fromExif, fromExif);
        QCOMPARE(result.image.size(), QSize(side, side));
        QVERIFY2(near(average(result.image), colour, 14), qPrintable(average(result.image).name() + u' ' + colour.name()));
        // The shared cache only ever gets a picture decoded from the photo itself.
        const QImage entry(Thumbnailer::cachePath(photo, Thumbnailer::kNormalSize));
        QCOMPARE(entry.isNull(), fromExif);
        if (!fromExif) {
            QCOMPARE(entry.text(u"Thumb::MTime"_s), QString::number(mtimeOf(photo)));
            QVERIFY(near(average(entry), average(Thumbnailer::decode(photo, 128)), 14));
        }
    }

    // The embedded thumbnail is stored as the photo is; it is turned as Qt turns the photo.
    void embeddedThumbnailTurned()
    {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QByteArray bytes = ExifJpeg::withExif(ExifJpeg::jpeg(quadrants(QSize(320, 240)), 95),
                                                        {orientation % 2 == 0, orientation, ExifJpeg::jpeg(quadrants(QSize(160, 120)), 95), {}, {}, {}});
            QBuffer buffer;
            buffer.setData(bytes);
            QImageReader reader(&buffer, "jpeg");
            reader.setAutoTransform(true);
            const QImage expected = reader.read();
            const QImage turned = Thumbnailer::exifThumbnail(bytes, 52);
            QVERIFY(!expected.isNull() && !turned.isNull());
            QCOMPARE(turned.size(), expected.size() / 2);
            for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
                const QColor got = turned.pixelColor(int(at.x() * turned.width()), int(at.y() * turned.height()));
                const QColor want = expected.pixelColor(int(at.x() * expected.width()), int(at.y() * expected.height()));
                QVERIFY2(near(got, want, 24), qPrintable(u"%1: %2 where Qt has %3"_s.arg(orientation).arg(got.name(), want.name())));
            }
        }
    }

    void cacheAnswersByQueuedSignal()
    {
        ThumbnailCache cache;
        cache.setPixelSize(40);
        const QString photo = writeImage(u"cache/blue.jpg"_s, flat(QSize(640, 480), Qt::blue));
        const QString missing = m_root.filePath(u"cache/missing.jpg"_s);
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        cache.request(photo);
        cache.request(photo); // asked once
        cache.request(missing);
        QVERIFY(ready.isEmpty()); // never inside the call
        QTRY_COMPARE(ready.size(), 2);
        QVERIFY(ready.contains(QVariantList{photo, mtimeOf(photo)}));
        QCOMPARE(cache.image(photo).size(), QSize(40, 40));
        QVERIFY(near(average(cache.image(photo)), Qt::blue, 14));
        // Stored in the desktop's cache once shown, for the next start and other applications.
        QTRY_VERIFY(!Thumbnailer::readCached(photo, mtimeOf(photo), 40).isNull());
        // A file that cannot be read is remembered, not decoded again.
        QVERIFY(cache.hasFailed(missing) && cache.image(missing).isNull());
        cache.request(missing);
        QCOMPARE(cache.queuedCount() + cache.runningCount(), qsizetype(0));

        // Requests that have not started can be dropped (their rows left the screen).
        for (int i = 0; i < 20; ++i)
            cache.request(writeImage(u"cache/%1.jpg"_s.arg(i), flat(QSize(640, 480), Qt::gray)));
        QVERIFY(cache.queuedCount() > 0);
        cache.dropQueued();
        QCOMPARE(cache.queuedCount(), qsizetype(0));
        QTRY_COMPARE(cache.runningCount(), qsizetype(0));
        QVERIFY(ready.size() < 2 + 20);
    }
};

QTEST_MAIN(TestUiThumbnails)
#include "tst_ui_thumbnails.moc"
