#include "testenv.h"
#include "ui/thumbnailcache.h"
#include "ui/thumbnailer.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(Thumbnailer::JxlPath)

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
