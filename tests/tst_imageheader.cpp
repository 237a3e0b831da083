#include "engine/imageheader.h"
#include "testenv.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// Frame facts of JPEG markers and JPEG XL size headers, read without decoding.
class TestImageHeader final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // A JXL of the given size made by the real encoder from a flat PPM.
    QString encodeJxl(int width, int height, bool container)
    {
        const QString base = m_dir.filePath(QStringLiteral("%1x%2-%3").arg(width).arg(height).arg(container));
        QByteArray ppm = QByteArrayLiteral("P6\n") + QByteArray::number(width) + ' ' + QByteArray::number(height)
            + QByteArrayLiteral("\n255\n");
        ppm += QByteArray(qsizetype(width) * height * 3, '\x60');
        TestEnv::writeAll(base + QStringLiteral(".ppm"), ppm);
        QProcess cjxl;
        cjxl.start(TestEnv::installedTool(QStringLiteral("cjxl")),
                   {base + QStringLiteral(".ppm"), base + QStringLiteral(".jxl"), QStringLiteral("-d"),
                    QStringLiteral("1"), QStringLiteral("-e"), QStringLiteral("1"),
                    QStringLiteral("--container=%1").arg(container ? 1 : 0)});
        if (!cjxl.waitForFinished(60000) || cjxl.exitCode() != 0)
            qFatal("cjxl could not encode the sample");
        return base + QStringLiteral(".jxl");
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY2(!TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty(), "cjxl is not installed");
    }

    void jpegFrames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("marker");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<JpegComponent>>("components");
        // What 12-bit, CMYK, arithmetic, lossless and unfinished frames say: tst_outcomes, through
        // the diagnosis that refuses them.
        const QList<JpegComponent> ycc420{{1, 2, 2}, {2, 1, 1}, {3, 1, 1}};
        QTest::newRow("camera") << "cameras/Canon_40D.jpg" << 0xC0 << QSize(100, 68)
                                << QList<JpegComponent>{{1, 1, 1}, {2, 1, 1}, {3, 1, 1}};
        QTest::newRow("grayscale") << "odd-but-lossless/grayscale.jpg" << 0xC0 << QSize(512, 384) << QList<JpegComponent>{{1, 1, 1}};
        QTest::newRow("progressive") << "odd-but-lossless/progressive.jpg" << 0xC2 << QSize(512, 384) << ycc420;
        QTest::newRow("16 KiB exif before the frame") << "undecodable/truncated-scan.jpg" << 0xC0 << QSize(3648, 2736)
                                                      << QList<JpegComponent>{{1, 2, 1}, {2, 1, 1}, {3, 1, 1}};
    }

    void jpegFrames()
    {
        QFETCH(QString, file);
        QFETCH(int, marker);
        QFETCH(QSize, size);
        QFETCH(QList<JpegComponent>, components);
        const QString path = TestEnv::dataPath(QStringLiteral("jpeg/") + file);
        const auto header = parseJpegHeader(TestEnv::readAll(path));
        QVERIFY(header);
        QCOMPARE(header->frameMarker, marker);
        QCOMPARE(header->progressive, marker == 0xC2);
        QCOMPARE(header->precision, 8);
        QCOMPARE(QSize(header->width, header->height), size);
        QCOMPARE(header->componentInfo, components);
        QVERIFY(header->reachedScan && header->endsWithEoi && !header->adobeTransform);
        QCOMPARE(imagePixelCount(path), qint64(size.width()) * size.height());
    }

    void notJpeg_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("garbage before soi")
            << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/leading-garbage.jpg")));
        QTest::newRow("a jxl") << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")));
        QTest::newRow("cut inside the exif segment")
            << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"))).first(600);
        QTest::newRow("eoi before any frame") << QByteArrayLiteral("\xFF\xD8\xFF\xD9");
    }

    void notJpeg()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseJpegHeader(bytes), std::nullopt);
    }

    void jpegHeadOnly()
    {
        // The first scan's data is not needed: cut right after the SOS segment.
        const QByteArray image = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/odd-but-lossless/grayscale.jpg")));
        const qsizetype sos = image.indexOf(QByteArrayLiteral("\xFF\xDA"));
        const auto header = parseJpegHeader(image.first(sos + 10));
        QVERIFY(header);
        QCOMPARE(QSize(header->width, header->height), QSize(512, 384));
        QVERIFY(header->reachedScan);
        QVERIFY(!header->endsWithEoi);
    }

    void jxlSizes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QSize>("size");
        const auto file = [](const char *name) { return TestEnv::dataPath(QStringLiteral("jxl/") + QLatin1String(name)); };
        QTest::newRow("container, codestream in jxlp boxes") << file("from-jpeg.jxl") << QSize(100, 68);
        QTest::newRow("first half of a file") << file("truncated.jxl") << QSize(100, 68);
        // Small (multiples of 8 up to 256), a fixed aspect ratio, and each U32 width class; beyond
        // 2^18 the encoder needs a level box, so a container.
        for (const auto &[size, container] : {std::pair(QSize(8, 8), false), std::pair(QSize(64, 48), true),
                                              std::pair(QSize(1920, 1080), false), std::pair(QSize(3, 7), true),
                                              std::pair(QSize(513, 1), false), std::pair(QSize(9000, 17), true),
                                              std::pair(QSize(1, 270000), true)}) {
            QTest::addRow("%dx%d, %s", size.width(), size.height(), container ? "container" : "codestream")
                << encodeJxl(size.width(), size.height(), container) << size;
        }
    }

    void jxlSizes()
    {
        QFETCH(QString, path);
        QFETCH(QSize, size);
        QCOMPARE(parseJxlSize(TestEnv::readAll(path)), size);
        QCOMPARE(imagePixelCount(path), qint64(size.width()) * size.height());
    }

    void notJxl_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray container = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")));
        QTest::newRow("signature only") << QByteArrayLiteral("\xFF\x0A");
        QTest::newRow("a jpeg") << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")));
        QTest::newRow("container cut before the codestream") << container.first(40);
        QTest::newRow("container without codestream box") << container.first(12) + QByteArray("\x00\x00\x00\x08jbrd", 8);
    }

    void notJxl()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(parseJxlSize(bytes), std::nullopt);
    }

    void pixelCountOfOtherFiles()
    {
        QCOMPARE(imagePixelCount(m_dir.filePath(QStringLiteral("absent.jpg"))), std::nullopt);
        const QString text = m_dir.filePath(QStringLiteral("text.jpg"));
        TestEnv::writeAll(text, "not an image");
        QCOMPARE(imagePixelCount(text), std::nullopt);
        QCOMPARE(imagePixelCount(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/leading-garbage.jpg"))),
                 std::nullopt);
        QCOMPARE(imagePixelCount(m_dir.path()), std::nullopt);
        // A pipe named like a photo must not block the reader waiting for a writer.
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.jpg"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(imagePixelCount(fifo), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestImageHeader)
#include "tst_imageheader.moc"
