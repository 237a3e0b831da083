#include "engine/imageheader.h"
#include "exifjpeg.h"
#include "testenv.h"
#include "ui/thumbnailcache.h"
#include "ui/thumbnailer.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(Thumbnailer::JxlPath)

namespace {

// A picture whose four quadrants differ, so every turn and mirror of it looks different.
QImage quadrants(QSize size, const QList<QColor> &colors)
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, colors.at((y < h ? 0 : 2) + (x < w ? 0 : 1)));
    return image;
}

const QList<QColor> kQuadrants{Qt::red, Qt::green, Qt::blue, Qt::yellow};
const QList<QColor> kOtherQuadrants{Qt::cyan, Qt::magenta, Qt::white, Qt::black};

QImage flat(QSize size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// A thumbnail of the given frame with the picture squeezed into content between black bars,
// as cameras letterbox a photo of another shape.
QImage letterboxed(QSize frame, QSize content, const QColor &color)
{
    QImage image = flat(frame, Qt::black);
    const QRect inner(QPoint((frame.width() - content.width()) / 2, (frame.height() - content.height()) / 2), content);
    for (int y = inner.top(); y <= inner.bottom(); ++y)
        for (int x = inner.left(); x <= inner.right(); ++x)
            image.setPixelColor(x, y, color);
    return image;
}

// The bytes in a heap block of exactly their size: a read past the end is one the address
// sanitizer sees.
struct ExactBytes
{
    explicit ExactBytes(QByteArrayView bytes)
        : data(new char[size_t(std::max<qsizetype>(bytes.size(), 1))])
        , size(bytes.size())
    {
        std::copy(bytes.begin(), bytes.end(), data.get());
    }
    QByteArrayView view() const { return QByteArrayView(data.get(), size); }
    bool holds(QByteArrayView part) const
    {
        return part.isEmpty() || (part.data() >= data.get() && part.data() + part.size() <= data.get() + size);
    }

    std::unique_ptr<char[]> data;
    qsizetype size;
};

} // namespace

// Thumbnails: the desktop's shared cache read and written, JPEG XL through libjxl, and the
// memory cache the table asks.
class TestUiThumbnails final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString writeImage(const QString &name, const QColor &color, QSize size = QSize(640, 480))
    {
        QImage image(size, QImage::Format_RGB32);
        image.fill(color);
        const QString path = m_root.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!image.save(path, "jpeg", 95))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static qint64 mtimeOf(const QString &path) { return QFileInfo(path).lastModified().toSecsSinceEpoch(); }

    static QColor average(const QImage &image)
    {
        const QImage one = image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return one.pixelColor(0, 0);
    }

    static bool near(const QColor &a, const QColor &b, int tolerance = 14)
    {
        return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
            && qAbs(a.blue() - b.blue()) <= tolerance;
    }

    // A cache entry as a file manager would have written it.
    static void writeEntry(const QString &path, const QColor &color, const QString &uri, qint64 mtime)
    {
        QImage thumbnail(128, 96, QImage::Format_RGB32);
        thumbnail.fill(color);
        thumbnail.setText(QStringLiteral("Thumb::URI"), uri);
        thumbnail.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
        const QString target = Thumbnailer::cachePath(path, Thumbnailer::kNormalSize);
        QDir().mkpath(QFileInfo(target).absolutePath());
        QVERIFY(thumbnail.save(target, "png"));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.path());
    }

    void cacheLocation()
    {
        // The shared layout: ~/.cache/thumbnails/normal/<md5 of the URI>.png, the URI percent-encoded.
        const QString path = m_root.filePath(QStringLiteral("a b/ü.jpg"));
        const QString uri = Thumbnailer::fileUri(path);
        QCOMPARE(uri, QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        QVERIFY(uri.contains(QStringLiteral("a%20b/%C3%BC.jpg")));
        const QString md5 = QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex());
        QCOMPARE(Thumbnailer::cachePath(path, 128),
                 m_root.filePath(QStringLiteral("home/.cache/thumbnails/normal/")) + md5 + QStringLiteral(".png"));
        QCOMPARE(Thumbnailer::cachePath(path, 256),
                 m_root.filePath(QStringLiteral("home/.cache/thumbnails/large/")) + md5 + QStringLiteral(".png"));
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
        const QString photo = writeImage(QStringLiteral("shared/%1.jpg").arg(QString::fromLatin1(QTest::currentDataTag())), Qt::red);
        const QString uri = sameUri ? Thumbnailer::fileUri(photo) : QStringLiteral("file:///elsewhere.jpg");
        writeEntry(photo, Qt::green, uri, mtimeOf(photo) + mtimeShift);

        const Thumbnailer::Result result = Thumbnailer::make(photo, 52);
        QCOMPARE(result.image.size(), QSize(52, 52));
        QCOMPARE(result.fromSharedCache, fromCache);
        QCOMPARE(result.mtime, mtimeOf(photo));
        QVERIFY(near(average(result.image), fromCache ? QColor(Qt::green) : QColor(Qt::red)));
        // A stale or foreign entry is replaced by one made from the file.
        const QImage written(Thumbnailer::cachePath(photo, 128));
        QCOMPARE(written.text(QStringLiteral("Thumb::URI")), Thumbnailer::fileUri(photo));
        QCOMPARE(written.text(QStringLiteral("Thumb::MTime")).toLongLong(), fromCache ? mtimeOf(photo) + mtimeShift : mtimeOf(photo));
    }

    void writesTheSharedCache_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("mimeType");
        QTest::addColumn<QSize>("size");
        // The photo is 100 × 68: small pictures are stored as they are, never enlarged.
        QTest::newRow("JPEG") << QStringLiteral("jpeg/cameras/Canon_40D.jpg") << QStringLiteral("image/jpeg") << QSize(100, 68);
        // File managers that cannot read JPEG XL show converted photos from this entry.
        QTest::newRow("JPEG XL") << QStringLiteral("jxl/from-jpeg.jxl") << QStringLiteral("image/jxl") << QSize(100, 68);
    }

    void writesTheSharedCache()
    {
        QFETCH(QString, source);
        QFETCH(QString, mimeType);
        QFETCH(QSize, size);
        const QString photo = TestEnv::copyData(source, m_root.filePath(QStringLiteral("written")));
        const QString large = writeImage(QStringLiteral("written/large.jpg"), Qt::red, QSize(1200, 900));
        QCOMPARE(Thumbnailer::make(large, 52).image.size(), QSize(52, 52));
        QCOMPARE(QImage(Thumbnailer::cachePath(large, 128)).size(), QSize(128, 96));
        QFile::remove(Thumbnailer::cachePath(photo, 128));
        const Thumbnailer::Result made = Thumbnailer::make(photo, 52);
        QVERIFY(!made.image.isNull());
        QVERIFY(!made.fromSharedCache);

        const QString entry = Thumbnailer::cachePath(photo, 128);
        QCOMPARE(QImageReader(entry).format(), QByteArray("png"));
        const QImage written(entry);
        QCOMPARE(written.text(QStringLiteral("Thumb::URI")), Thumbnailer::fileUri(photo));
        QCOMPARE(written.text(QStringLiteral("Thumb::MTime")), QString::number(mtimeOf(photo)));
        QCOMPARE(written.text(QStringLiteral("Thumb::Mimetype")), mimeType);
        QCOMPARE(written.text(QStringLiteral("Thumb::Size")), QString::number(QFileInfo(photo).size()));
        QCOMPARE(written.size(), size);
        QCOMPARE(QFileInfo(entry).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
        QCOMPARE(TestEnv::entries(QFileInfo(entry).absolutePath()).filter(QStringLiteral(".png")).size(),
                 TestEnv::entries(QFileInfo(entry).absolutePath()).size()); // no leftover temporary

        // The next request reads the entry instead of decoding the photo.
        QVERIFY(Thumbnailer::make(photo, 52).fromSharedCache);
    }

    void neverThumbnailsTheCacheItself()
    {
        const QString inside = writeImage(QStringLiteral("home/.cache/thumbnails/normal/someone.png"), Qt::blue);
        QVERIFY(!Thumbnailer::writeCached(inside, 1, QImage(8, 8, QImage::Format_RGB32), QString()));
        QVERIFY(!QFile::exists(Thumbnailer::cachePath(inside, 128)));
    }

    void jpegXlThroughLibjxl_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<Thumbnailer::JxlPath>("path");
        QTest::newRow("with reconstruction data") << QStringLiteral("from-jpeg.jxl") << Thumbnailer::JxlPath::reconstructedJpeg;
        QTest::newRow("container without it") << QStringLiteral("from-jpeg-no-reconstruction.jxl")
                                              << Thumbnailer::JxlPath::pixels;
        QTest::newRow("bare codestream") << QStringLiteral("pixels-only-codestream.jxl") << Thumbnailer::JxlPath::pixels;
        QTest::newRow("cut short") << QStringLiteral("truncated.jxl") << Thumbnailer::JxlPath::none;
    }

    void jpegXlThroughLibjxl()
    {
        QFETCH(QString, file);
        QFETCH(Thumbnailer::JxlPath, path);
        Thumbnailer::JxlPath used = Thumbnailer::JxlPath::reconstructedJpeg;
        const QImage image = Thumbnailer::decode(TestEnv::dataPath(QStringLiteral("jxl/") + file), 128, &used);
        QCOMPARE(used, path);
        QCOMPARE(image.isNull(), path == Thumbnailer::JxlPath::none);
        if (image.isNull())
            return;
        QVERIFY(std::max(image.width(), image.height()) <= 128);
        if (file.startsWith(QLatin1String("from-jpeg"))) {
            // Both ways give the picture of the JPEG it came from.
            const QImage original = Thumbnailer::decode(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")), 128);
            QCOMPARE(image.size(), original.size());
            QVERIFY2(near(average(image), average(original), 6), qPrintable(average(image).name()));
        }
    }

    // Damage made by hand, each kind once; damage at random is fuzz_jpegheader's, which checks the
    // same bounds under the address sanitizer.
    void exifSegments_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("hasExif");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<QByteArray>("thumbnail"); // empty: none found

        const QByteArray photo = ExifJpeg::jpeg(flat(QSize(64, 48), Qt::red));
        const QByteArray thumbnail = ExifJpeg::jpeg(flat(QSize(32, 24), Qt::blue));
        const auto with = [&](ExifJpeg::Layout layout) { return ExifJpeg::withExif(photo, layout); };
        const quint32 tiffSize = quint32(ExifJpeg::tiff({false, 1, thumbnail, {}, {}, {}}).size());

        QTest::newRow("little-endian") << with({false, 6, thumbnail, {}, {}, {}}) << true << 6 << thumbnail;
        QTest::newRow("big-endian") << with({true, 8, thumbnail, {}, {}, {}}) << true << 8 << thumbnail;
        QTest::newRow("no orientation tag") << with({false, 0, thumbnail, {}, {}, {}}) << true << 1 << thumbnail;
        QTest::newRow("orientation out of range") << with({true, 9, thumbnail, {}, {}, {}}) << true << 1 << thumbnail;
        QTest::newRow("no second directory") << with({false, 3, {}, {}, {}, {}}) << true << 3 << QByteArray();
        QTest::newRow("thumbnail past the segment") << with({false, 1, thumbnail, {}, tiffSize + 100, {}}) << true << 1
                                                    << QByteArray();
        QTest::newRow("thumbnail longer than the segment")
            << with({true, 1, thumbnail, {}, {}, quint32(thumbnail.size() + 1)}) << true << 1 << QByteArray();
        QTest::newRow("offset and length wrap around")
            << with({false, 1, thumbnail, {}, 0x40u, 0xFFFFFFF0u}) << true << 1 << QByteArray();
        QTest::newRow("thumbnail inside the header") << with({false, 1, thumbnail, {}, 2u, {}}) << true << 1 << QByteArray();
        QTest::newRow("second directory past the segment") << with({false, 1, thumbnail, 0x7FFFFFF0u, {}, {}}) << true
                                                           << 1 << QByteArray();
        QTest::newRow("second directory is the first") << with({true, 6, thumbnail, ExifJpeg::kFirstDirectory, {}, {}})
                                                       << true << 6 << QByteArray();
        QTest::newRow("second directory in the header") << with({false, 6, thumbnail, 2u, {}, {}}) << true << 6
                                                        << QByteArray();
        QTest::newRow("thumbnail not a JPEG") << with({false, 1, QByteArray(64, 'x'), {}, {}, {}}) << true << 1
                                              << QByteArray();
        QTest::newRow("no Exif segment") << photo << false << 1 << QByteArray();
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        flat(QSize(8, 8), Qt::red).save(&buffer, "png");
        QTest::newRow("not a JPEG") << png << false << 1 << QByteArray();
        QByteArray badOrder = with({false, 6, thumbnail, {}, {}, {}});
        badOrder[ExifJpeg::kTiffStart] = 'X';
        QTest::newRow("unknown byte order") << badOrder << false << 1 << QByteArray();
        // The segment after the first scan is pixel data, not a header.
        const QByteArray sos = QByteArrayLiteral("\xFF\xDA\x00\x02");
        QTest::newRow("Exif after the scan") << (photo.left(2) + sos + ExifJpeg::segment({false, 6, thumbnail, {}, {}, {}}))
                                             << false << 1 << QByteArray();
    }

    void exifSegments()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, hasExif);
        QFETCH(int, orientation);
        QFETCH(QByteArray, thumbnail);
        const ExactBytes exact(bytes);
        const std::optional<JpegExif> exif = parseJpegExif(exact.view());
        QCOMPARE(exif.has_value(), hasExif);
        if (!exif)
            return;
        QCOMPARE(exif->orientation, orientation);
        QCOMPARE(exif->thumbnail.toByteArray(), thumbnail);
        QVERIFY(exact.holds(exif->thumbnail));
    }

    void embeddedThumbnailChosen_data()
    {
        QTest::addColumn<QSize>("photoSize");
        QTest::addColumn<QImage>("thumbnail");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("used");

        QTest::newRow("same shape") << QSize(640, 480) << flat(QSize(160, 120), Qt::blue) << 52 << true;
        QTest::newRow("exactly the square's side") << QSize(640, 480) << flat(QSize(160, 120), Qt::blue) << 120 << true;
        QTest::newRow("smaller than the square") << QSize(640, 480) << flat(QSize(64, 48), Qt::blue) << 52 << false;
        QTest::newRow("small but enough") << QSize(640, 480) << flat(QSize(64, 48), Qt::blue) << 40 << true;
        // Small thumbnails are a pixel off the photo's shape by rounding.
        QTest::newRow("rounded") << QSize(1000, 640) << flat(QSize(64, 40), Qt::blue) << 26 << true;
        QTest::newRow("3:2 photo letterboxed into 4:3") << QSize(600, 400)
                                                        << letterboxed(QSize(160, 120), QSize(160, 106), Qt::blue) << 52
                                                        << false;
        QTest::newRow("16:9 photo letterboxed into 4:3") << QSize(640, 360)
                                                         << letterboxed(QSize(160, 120), QSize(160, 90), Qt::blue) << 52
                                                         << false;
        QTest::newRow("stale, from before a crop") << QSize(480, 480) << flat(QSize(160, 120), Qt::blue) << 52 << false;
        QTest::newRow("stored the other way round") << QSize(480, 640) << flat(QSize(160, 120), Qt::blue) << 52 << false;
        QTest::newRow("no thumbnail") << QSize(640, 480) << QImage() << 52 << false;
    }

    void embeddedThumbnailChosen()
    {
        // The photo is red, its embedded thumbnail blue: the colour tells which one was shown.
        QFETCH(QSize, photoSize);
        QFETCH(QImage, thumbnail);
        QFETCH(int, side);
        QFETCH(bool, used);
        const QByteArray bytes = ExifJpeg::withExif(ExifJpeg::jpeg(flat(photoSize, Qt::red)),
                                                    {false, 1, thumbnail.isNull() ? QByteArray() : ExifJpeg::jpeg(thumbnail), {}, {}, {}});
        const QString photo = m_root.filePath(QStringLiteral("exif/%1.jpg").arg(QString::fromLatin1(QTest::currentDataTag())));
        QDir().mkpath(QFileInfo(photo).absolutePath());
        TestEnv::writeAll(photo, bytes);

        QCOMPARE(Thumbnailer::exifThumbnail(bytes, side).isNull(), !used);
        const Thumbnailer::Result result = Thumbnailer::make(photo, side);
        QCOMPARE(result.image.size(), QSize(side, side));
        QCOMPARE(result.fromExif, used);
        QVERIFY(!result.fromSharedCache);
        QVERIFY2(near(average(result.image), used ? QColor(Qt::blue) : QColor(Qt::red)), qPrintable(average(result.image).name()));
        // The shared cache only ever gets a picture decoded from the photo itself.
        const QImage entry(Thumbnailer::cachePath(photo, Thumbnailer::kNormalSize));
        QCOMPARE(entry.isNull(), used);
        if (!used) {
            QCOMPARE(entry.text(QStringLiteral("Thumb::MTime")), QString::number(mtimeOf(photo)));
            QVERIFY(near(average(entry), Qt::red));
        }
    }

    void embeddedThumbnailTurned_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("bigEndian");
        for (int orientation = 1; orientation <= 8; ++orientation)
            QTest::addRow("%d", orientation) << orientation << (orientation % 2 == 0);
    }

    void embeddedThumbnailTurned()
    {
        // The embedded thumbnail is stored as the photo is; it is turned as Qt turns the photo.
        QFETCH(int, orientation);
        QFETCH(bool, bigEndian);
        const QByteArray bytes = ExifJpeg::withExif(ExifJpeg::jpeg(quadrants(QSize(320, 240), kQuadrants), 95),
                                                    {bigEndian, orientation,
                                                     ExifJpeg::jpeg(quadrants(QSize(160, 120), kQuadrants), 95), {}, {}, {}});
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "jpeg");
        reader.setAutoTransform(true);
        const QImage expected = reader.read();
        QVERIFY(!expected.isNull());

        const QImage turned = Thumbnailer::exifThumbnail(bytes, 52);
        QVERIFY(!turned.isNull());
        QCOMPARE(turned.size(), expected.size() / 2);
        for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
            const QColor got = turned.pixelColor(int(at.x() * turned.width()), int(at.y() * turned.height()));
            const QColor want = expected.pixelColor(int(at.x() * expected.width()), int(at.y() * expected.height()));
            QVERIFY2(near(got, want, 24), qPrintable(QStringLiteral("%1 where Qt has %2").arg(got.name(), want.name())));
        }
    }

    void camerasInTestData_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("side");
        QTest::addColumn<bool>("fromExif");
        // 512 × 384 with a 160 × 120 thumbnail, and a camera's 480 × 360 with one.
        QTest::newRow("exif thumbnail") << QStringLiteral("odd-but-lossless/exif-thumbnail.jpg") << 52 << true;
        QTest::newRow("Canon PowerShot S40") << QStringLiteral("cameras/Canon_PowerShot_S40.jpg") << 52 << true;
        // Scaled-down samples whose 68 × 46 thumbnail is too small for a 52 px square, not for 26.
        QTest::newRow("Canon 40D, 52 px") << QStringLiteral("cameras/Canon_40D.jpg") << 52 << false;
        QTest::newRow("Canon 40D, 26 px") << QStringLiteral("cameras/Canon_40D.jpg") << 26 << true;
        QTest::newRow("big-endian, portrait") << QStringLiteral("cameras/WWL_(Polaroid)_ION230.jpg") << 26 << true;
        QTest::newRow("thumbnail at the end of a large Exif segment") << QStringLiteral("cameras/Samsung_Digimax_i50_MP3.jpg") << 26 << true;
        QTest::newRow("Exif without a thumbnail") << QStringLiteral("cameras/Reconyx_HC500_Hyperfire.jpg") << 26 << false;
        QTest::newRow("no Exif") << QStringLiteral("odd-but-lossless/progressive.jpg") << 26 << false;
    }

    void camerasInTestData()
    {
        QFETCH(QString, file);
        QFETCH(int, side);
        QFETCH(bool, fromExif);
        const QString photo = TestEnv::copyData(QStringLiteral("jpeg/") + file, m_root.filePath(QStringLiteral("data-%1").arg(side)));
        const Thumbnailer::Result result = Thumbnailer::make(photo, side);
        QCOMPARE(result.fromExif, fromExif);
        QCOMPARE(result.image.size(), QSize(side, side));
        // Embedded or decoded, it shows the photo: compared with a full decode of it.
        const QImage decoded = Thumbnailer::squareCrop(Thumbnailer::decode(photo, 128), side);
        QVERIFY2(near(average(result.image), average(decoded), 10),
                 qPrintable(average(result.image).name() + QLatin1Char(' ') + average(decoded).name()));
        QCOMPARE(QFile::exists(Thumbnailer::cachePath(photo, Thumbnailer::kNormalSize)), !fromExif);
    }

    void cacheAnswersByQueuedSignal()
    {
        ThumbnailCache cache;
        cache.setPixelSize(40);
        const QString photo = writeImage(QStringLiteral("cache/blue.jpg"), Qt::blue);
        const QString missing = m_root.filePath(QStringLiteral("cache/missing.jpg"));
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        cache.request(photo);
        cache.request(photo); // asked once
        cache.request(missing);
        QVERIFY(ready.isEmpty()); // never inside the call
        QTRY_COMPARE(ready.size(), 2);
        QVERIFY(ready.contains(QVariantList{photo, mtimeOf(photo)}));
        QCOMPARE(cache.image(photo).size(), QSize(40, 40));
        QVERIFY(near(average(cache.image(photo)), Qt::blue));
        // Stored in the desktop's cache once shown, for the next start and other applications.
        QTRY_VERIFY(!Thumbnailer::readCached(photo, mtimeOf(photo), 40).isNull());
        // A file that cannot be read is remembered, not decoded again.
        QVERIFY(cache.hasFailed(missing));
        QVERIFY(cache.image(missing).isNull());
        cache.request(missing);
        QCOMPARE(cache.queuedCount() + cache.runningCount(), qsizetype(0));

        // Requests that have not started can be dropped (their rows left the screen).
        for (int i = 0; i < 20; ++i)
            cache.request(writeImage(QStringLiteral("cache/%1.jpg").arg(i), Qt::gray));
        QVERIFY(cache.queuedCount() > 0);
        cache.dropQueued();
        QCOMPARE(cache.queuedCount(), qsizetype(0));
        QTRY_COMPARE(cache.runningCount(), qsizetype(0));
        QVERIFY(ready.size() < 2 + 20);
    }
};

QTEST_MAIN(TestUiThumbnails)
#include "tst_ui_thumbnails.moc"
