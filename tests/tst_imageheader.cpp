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
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void jpegFrames_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("marker");
        QTest::addColumn<int>("precision");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<JpegComponent>>("components");
        QTest::addColumn<int>("adobe"); // -1: no Adobe segment
        QTest::addColumn<bool>("endsWithEoi");

        const QList<JpegComponent> ycc420{{1, 2, 2}, {2, 1, 1}, {3, 1, 1}};
        const QList<JpegComponent> ycc422{{1, 2, 1}, {2, 1, 1}, {3, 1, 1}};
        const QList<JpegComponent> ycc444{{1, 1, 1}, {2, 1, 1}, {3, 1, 1}};
        QTest::newRow("camera") << "cameras/Canon_40D.jpg" << 0xC0 << 8 << QSize(100, 68) << ycc444 << -1 << true;
        QTest::newRow("large camera") << "cameras/Reconyx_HC500_Hyperfire.jpg" << 0xC0 << 8 << QSize(2048, 1536)
                                      << ycc422 << -1 << true;
        QTest::newRow("portrait") << "cameras/Konica_Minolta_DiMAGE_Z3.jpg" << 0xC0 << 8 << QSize(70, 100)
                                  << ycc420 << -1 << true;
        QTest::newRow("broken exif") << "broken-exif/image01713.jpg" << 0xC0 << 8 << QSize(49, 500)
                                     << ycc444 << -1 << true;
        QTest::newRow("1x1") << "odd-but-lossless/1x1.jpg" << 0xC0 << 8 << QSize(1, 1)
                             << ycc420 << -1 << true;
        QTest::newRow("grayscale") << "odd-but-lossless/grayscale.jpg" << 0xC0 << 8 << QSize(512, 384)
                                   << QList<JpegComponent>{{1, 1, 1}} << -1 << true;
        QTest::newRow("progressive") << "odd-but-lossless/progressive.jpg" << 0xC2 << 8 << QSize(512, 384)
                                     << ycc420 << -1 << true;
        QTest::newRow("12-bit") << "unsupported/12-bit.jpg" << 0xC1 << 12 << QSize(64, 64)
                                << QList<JpegComponent>{{1, 1, 1}} << -1 << true;
        QTest::newRow("arithmetic") << "unsupported/arithmetic.jpg" << 0xC9 << 8 << QSize(512, 384)
                                    << ycc420 << -1 << true;
        QTest::newRow("cmyk") << "unsupported/cmyk.jpg" << 0xC0 << 8 << QSize(64, 64)
                              << QList<JpegComponent>{{1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}} << 0 << true;
        QTest::newRow("lossless") << "unsupported/lossless-sof3.jpg" << 0xC3 << 8 << QSize(64, 64)
                                  << QList<JpegComponent>{{1, 1, 1}} << -1 << true;
        QTest::newRow("missing eoi") << "unsupported/missing-eoi.jpg" << 0xC0 << 8 << QSize(512, 384)
                                     << ycc420 << -1 << false;
        QTest::newRow("4:1:1") << "unsupported/subsampling-411.jpg" << 0xC0 << 8 << QSize(512, 384)
                               << QList<JpegComponent>{{1, 4, 1}, {2, 1, 1}, {3, 1, 1}} << -1 << true;
        QTest::newRow("16 KiB exif before the frame") << "undecodable/truncated-scan.jpg" << 0xC0 << 8
                                                      << QSize(3648, 2736) << ycc422 << -1 << true;
    }

    void jpegFrames()
    {
        QFETCH(QString, file);
        QFETCH(int, marker);
        QFETCH(int, precision);
        QFETCH(QSize, size);
        QFETCH(QList<JpegComponent>, components);
        QFETCH(int, adobe);
        QFETCH(bool, endsWithEoi);

        const QString path = TestEnv::dataPath(QStringLiteral("jpeg/") + file);
        const auto header = parseJpegHeader(TestEnv::readAll(path));
        QVERIFY(header);
        QCOMPARE(header->frameMarker, marker);
        QCOMPARE(header->precision, precision);
        QCOMPARE(QSize(header->width, header->height), size);
        QCOMPARE(header->components, components.size());
        QCOMPARE(header->componentInfo, components);
        QCOMPARE(header->adobeTransform.value_or(-1), adobe);
        QCOMPARE(header->endsWithEoi, endsWithEoi);
        QVERIFY(header->reachedScan);
        QCOMPARE(header->arithmetic, marker >= 0xC9);
        QCOMPARE(header->lossless, marker == 0xC3);
        QCOMPARE(header->progressive, marker == 0xC2);
        QCOMPARE(imagePixelCount(path), qint64(size.width()) * size.height());
    }

    void notJpeg_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray camera = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("soi only") << QByteArrayLiteral("\xFF\xD8");
        QTest::newRow("garbage before soi")
            << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/unsupported/leading-garbage.jpg")));
        QTest::newRow("a jxl") << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")));
        QTest::newRow("cut inside the exif segment") << camera.first(600);
        QTest::newRow("eoi before any frame") << QByteArrayLiteral("\xFF\xD8\xFF\xD9");
        QTest::newRow("zero segment length") << QByteArrayLiteral("\xFF\xD8\xFF\xE0\x00\x00\xFF\xC0");
        QTest::newRow("frame shorter than its component list")
            << QByteArrayLiteral("\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x03\x01\x22\x00");
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
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("container");
        // Small (multiples of 8 up to 256), each fixed aspect ratio, and each U32 width class.
        const QList<QSize> sizes{{8, 8},       {256, 256},  {64, 48},    {240, 200},  {48, 32},   {1920, 1080},
                                 {160, 128},   {400, 200},  {100, 68},   {1, 1},      {3, 7},     {513, 1},
                                 {9000, 17},   {1, 270000}};
        for (const QSize &size : sizes) {
            // Beyond 2^18 the encoder needs a level box, so a container.
            for (const bool container : {false, true}) {
                if (!container && size.height() > 262144)
                    continue;
                const QByteArray name = QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height())
                    + (container ? " container" : " codestream");
                QTest::newRow(name.constData()) << size << container;
            }
        }
    }

    void jxlSizes()
    {
        QFETCH(QSize, size);
        QFETCH(bool, container);
        if (TestEnv::installedTool(QStringLiteral("cjxl")).isEmpty())
            QSKIP("cjxl is not installed");
        const QString path = encodeJxl(size.width(), size.height(), container);
        const QByteArray bytes = TestEnv::readAll(path);
        QCOMPARE(bytes.startsWith("\xFF\x0A"), !container);
        QCOMPARE(parseJxlSize(bytes), size);
        QCOMPARE(imagePixelCount(path), qint64(size.width()) * size.height());
    }

    void jxlTestFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("size");
        QTest::newRow("container, codestream in jxlp boxes") << "from-jpeg.jxl" << QSize(100, 68);
        QTest::newRow("container without reconstruction") << "from-jpeg-no-reconstruction.jxl" << QSize(100, 68);
        QTest::newRow("bare codestream") << "pixels-only-codestream.jxl" << QSize(320, 240);
        QTest::newRow("container, pixels only") << "pixels-only-container.jxl" << QSize(320, 240);
        QTest::newRow("first half of a file") << "truncated.jxl" << QSize(100, 68);
    }

    void jxlTestFiles()
    {
        QFETCH(QString, file);
        QFETCH(QSize, size);
        const QString path = TestEnv::dataPath(QStringLiteral("jxl/") + file);
        QCOMPARE(parseJxlSize(TestEnv::readAll(path)), size);
        QCOMPARE(imagePixelCount(path), qint64(size.width()) * size.height());
    }

    void notJxl_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QByteArray container = TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")));
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("signature only") << QByteArrayLiteral("\xFF\x0A");
        QTest::newRow("a jpeg") << TestEnv::readAll(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")));
        QTest::newRow("container cut before the codestream") << container.first(40);
        QTest::newRow("container without codestream box") << container.first(12) + QByteArray("\x00\x00\x00\x08jbrd", 8);
        QTest::newRow("box size smaller than its header") << container.first(12) + QByteArray("\x00\x00\x00\x04jxlc", 8);
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
