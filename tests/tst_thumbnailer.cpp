#include "clirun.h"
#include "engine/imageheader.h"
#include "exifjpeg.h"
#include "scratchvolume.h"
#include "testenv.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

namespace {

// tumblerd loads every plugin it has (PDF, video, fonts) before it answers: seconds on a loaded
// machine. Only a hang reaches this.
constexpr int kServiceMilliseconds = 120000;

// How the file manager's side runs the entry.
enum class Caller {
    NamesPath,       // names an output path and reads what is there afterwards (PCManFM)
    HoldsOutputOpen, // makes the output file and reads it through its own descriptor (tumbler)
    GnomeSandbox,    // GNOME's thumbnail factory: bubblewrap, a private /tmp for the output
};

// tumbler's signals, relayed so that QSignalSpy can record them.
class ThumbnailerSignals final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ThumbnailerSignals)

public:
    ThumbnailerSignals() = default;

Q_SIGNALS:
    void ready(uint handle, const QStringList &uris);
    void error(uint handle, const QStringList &uris, int code, const QString &message);
    void finished(uint handle);
};

// A picture whose four quadrants differ, so every turn and mirror of it looks different.
QImage quadrants(QSize size)
{
    const QList<QColor> colors{Qt::red, Qt::green, Qt::blue, Qt::yellow};
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, colors.at((y < size.height() / 2 ? 0 : 2) + (x < size.width() / 2 ? 0 : 1)));
    return image;
}

QColor average(const QImage &image)
{
    return image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

// A JPEG XL codestream whose size header claims width × height, with default metadata and nothing
// after it: what a file crafted to make a reader allocate the claimed picture starts with.
QByteArray codestreamClaiming(quint32 width, quint32 height)
{
    QList<bool> bits;
    const auto put = [&bits](quint64 value, int count) {
        for (int i = 0; i < count; ++i)
            bits.append(((value >> i) & 1) != 0);
    };
    put(0, 1);              // not a small size
    put(3, 2);              // height − 1 in 30 bits
    put(height - 1, 30);
    put(0, 3);              // no fixed ratio: the width follows
    put(3, 2);
    put(width - 1, 30);
    put(1, 1);              // all image metadata default
    QByteArray bytes("\xFF\x0A", 2);
    bytes.append(QByteArray((bits.size() + 7) / 8 + 64, '\0'));
    for (qsizetype i = 0; i < bits.size(); ++i)
        if (bits.at(i))
            bytes[2 + i / 8] = char(quint8(bytes.at(2 + i / 8)) | (1 << (i % 8)));
    return bytes;
}

QByteArray box(const char *type, const QByteArray &payload)
{
    QByteArray header(4, '\0');
    const quint32 size = quint32(payload.size() + 8);
    for (int i = 0; i < 4; ++i)
        header[i] = char((size >> (8 * (3 - i))) & 0xFF);
    return header + QByteArray(type, 4) + payload;
}

QByteArray inContainer(const QByteArray &codestream)
{
    return box("JXL ", QByteArray("\x0D\x0A\x87\x0A", 4)) + box("ftyp", QByteArray("jxl \0\0\0\0jxl ", 12))
        + box("jxlc", codestream);
}

} // namespace

Q_DECLARE_METATYPE(Caller)

// pikora-thumbnailer run as a file manager runs it: real JPEG XL files of every kind, the sizes
// asked for, the entry's Exec line, and hostile files that must end it at once with nothing written.
class TestThumbnailer final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_cjxl;
    int m_runs = 0;

    static CliRun run(const QStringList &arguments, const QString &program = QStringLiteral(PIKORA_THUMBNAILER_PATH),
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        return CliRun::runProgram(program, arguments, {}, environment);
    }

    // An empty folder for one run's output.
    QString outputFolder()
    {
        const QString folder = m_dir.filePath(QStringLiteral("out-%1").arg(++m_runs));
        QDir().mkpath(folder);
        return folder;
    }

    QString encode(const QString &source, const QString &name, const QStringList &flags)
    {
        const QString target = m_dir.filePath(name);
        QProcess cjxl;
        cjxl.start(m_cjxl, QStringList{source, target} + flags);
        if (!cjxl.waitForFinished(120000) || cjxl.exitStatus() != QProcess::NormalExit || cjxl.exitCode() != 0)
            qFatal("cjxl could not encode %s: %s", qPrintable(source), cjxl.readAllStandardError().constData());
        return target;
    }

    // A JPEG of four coloured quadrants whose Exif says how to turn it upright.
    QString orientedJpeg(int orientation)
    {
        const QString path = m_dir.filePath(QStringLiteral("oriented-%1.jpg").arg(orientation));
        TestEnv::writeAll(path, ExifJpeg::withExif(ExifJpeg::jpeg(quadrants(QSize(96, 48)), 95),
                                                   {false, orientation, {}, {}, {}, {}}));
        return path;
    }

    // The JPEG as Qt shows it (Exif orientation applied), scaled to fit within size.
    static QImage expectedPicture(const QString &jpeg, int size)
    {
        QImageReader reader(jpeg);
        reader.setAutoTransform(true);
        const QImage image = reader.read();
        if (image.width() <= size && image.height() <= size)
            return image;
        return image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }

    // Runs the thumbnailer on input and checks the PNG it writes, alone in its folder.
    QImage thumbnail(const QString &input, int size)
    {
        const QString folder = outputFolder();
        const QString output = folder + QStringLiteral("/thumbnail.png");
        const CliRun result = run({QStringLiteral("-s"), QString::number(size), input, output});
        if (result.exitCode != 0) {
            qWarning("pikora-thumbnailer failed: %s", result.err.constData());
            return {};
        }
        if (TestEnv::entries(folder) != QStringList{QStringLiteral("thumbnail.png")}) {
            qWarning("the output folder holds %s", qPrintable(TestEnv::entries(folder).join(u' ')));
            return {};
        }
        QImageReader reader(output, "png");
        return reader.read();
    }

    // The bubblewrap arguments GNOME's thumbnail factory (gnome-desktop) puts before a thumbnailer:
    // the system read-only, no namespace shared (no network), a private /tmp that is the output
    // folder, the input bound read-only into it. The build's program folder stands in for an
    // install prefix other than /usr, which GNOME binds read-only likewise.
    static QStringList gnomeSandbox(const QString &input, const QString &outputFolder)
    {
        QStringList arguments = QStringLiteral("--ro-bind /usr /usr --ro-bind /etc/ld.so.cache /etc/ld.so.cache").split(u' ');
        for (const char *name : {"bin", "lib64", "lib", "sbin"}) {
            const QString folder = u'/' + QLatin1String(name);
            const QString merged = QStringLiteral("/usr") + folder;
            if (!QFileInfo::exists(folder))
                continue;
            if (QFileInfo(folder).canonicalFilePath() == QFileInfo(merged).canonicalFilePath())
                arguments << QStringLiteral("--symlink") << merged << folder;
            else
                arguments << QStringLiteral("--ro-bind") << folder << folder;
        }
        const QString programs = QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath();
        arguments << QStringLiteral("--proc /proc --dev /dev --chdir / --setenv GIO_USE_VFS local --unshare-all "
                                    "--die-with-parent").split(u' ')
                  << QStringLiteral("--ro-bind") << programs << programs << QStringLiteral("--bind") << outputFolder
                  << QStringLiteral("/tmp") << QStringLiteral("--ro-bind") << input
                  << QStringLiteral("/tmp/gnome-desktop-file-to-thumbnail.jxl");
        // A sanitized build reads its suppression files at start and writes its reports by the
        // paths in its options: bound in, so findings inside the sandbox fail the run as outside.
        const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            for (const QString &option : environment.value(QLatin1String(name)).split(u':', Qt::SkipEmptyParts)) {
                if (option.startsWith(QLatin1String("suppressions=")))
                    arguments << QStringLiteral("--ro-bind") << option.mid(13) << option.mid(13);
                else if (option.startsWith(QLatin1String("log_path=")))
                    arguments << QStringLiteral("--bind") << QFileInfo(option.mid(9)).absolutePath()
                              << QFileInfo(option.mid(9)).absolutePath();
            }
        }
        return arguments;
    }

    // Checks that a run refused the input: a clean exit with the status given, a reason on the
    // standard error and nothing written.
    void expectRefused(const QStringList &arguments, int exitCode, const QString &folder)
    {
        const QStringList before = TestEnv::entries(folder);
        const CliRun result = run(arguments);
        QCOMPARE(result.exitCode, exitCode);
        QVERIFY(!result.err.trimmed().isEmpty());
        QCOMPARE(TestEnv::entries(folder), before);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).isExecutable());
        m_cjxl = TestEnv::installedTool(QStringLiteral("cjxl"));
        QVERIFY2(!m_cjxl.isEmpty(), "cjxl is not installed");
    }

    void photos_data()
    {
        QTest::addColumn<QString>("jxl");
        QTest::addColumn<QString>("jpeg");
        QTest::addColumn<int>("size");

        const QStringList cameras{QStringLiteral("Canon_40D.jpg"), QStringLiteral("Canon_PowerShot_S40.jpg"),
                                  QStringLiteral("Reconyx_HC500_Hyperfire.jpg"), QStringLiteral("Fujifilm_FinePix_E500.jpg")};
        for (const QString &camera : cameras) {
            const QString jpeg = TestEnv::dataPath(QStringLiteral("jpeg/cameras/") + camera);
            const QString base = QFileInfo(camera).completeBaseName();
            const QString rebuilt = encode(jpeg, base + QStringLiteral("-rebuilt.jxl"),
                                           {QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-e"), QStringLiteral("3")});
            const QString bare = encode(jpeg, base + QStringLiteral("-no-reconstruction.jxl"),
                                        {QStringLiteral("--lossless_jpeg=1"), QStringLiteral("--jpeg_store_metadata=0"),
                                         QStringLiteral("-e"), QStringLiteral("3")});
            const QString lossy = encode(jpeg, base + QStringLiteral("-pixels.jxl"),
                                         {QStringLiteral("--lossless_jpeg=0"), QStringLiteral("-d"), QStringLiteral("1"),
                                          QStringLiteral("-e"), QStringLiteral("3")});
            for (const int size : {64, 128, 256}) {
                QTest::addRow("%s, rebuilt JPEG, %d", qPrintable(base), size) << rebuilt << jpeg << size;
                QTest::addRow("%s, without reconstruction data, %d", qPrintable(base), size) << bare << jpeg << size;
                QTest::addRow("%s, lossy pixels, %d", qPrintable(base), size) << lossy << jpeg << size;
            }
        }
    }

    // The photo's own picture, at the size asked (never enlarged), whichever way it was stored.
    void photos()
    {
        QFETCH(QString, jxl);
        QFETCH(QString, jpeg);
        QFETCH(int, size);
        const QImage image = thumbnail(jxl, size);
        QVERIFY(!image.isNull());
        const QImage expected = expectedPicture(jpeg, size);
        QCOMPARE(image.size(), expected.size());
        QVERIFY(std::max(image.width(), image.height()) <= size);
        QVERIFY2(near(average(image), average(expected), 8),
                 qPrintable(average(image).name() + u" vs " + average(expected).name()));
    }

    void sizes_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QSize>("expected");
        // pixels-only-codestream.jxl is 320 × 240.
        QTest::newRow("1") << 1 << QSize(1, 1);
        QTest::newRow("17") << 17 << QSize(17, 12);
        QTest::newRow("128, normal") << 128 << QSize(128, 96);
        QTest::newRow("256, large") << 256 << QSize(256, 192);
        QTest::newRow("320, the photo's own") << 320 << QSize(320, 240);
        QTest::newRow("4096, never enlarged") << 4096 << QSize(320, 240);
    }

    void sizes()
    {
        QFETCH(int, size);
        QFETCH(QSize, expected);
        QCOMPARE(thumbnail(TestEnv::dataPath(QStringLiteral("jxl/pixels-only-codestream.jxl")), size).size(), expected);
    }

    void orientation_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::addColumn<bool>("reconstruction");
        for (int orientation = 1; orientation <= 8; ++orientation) {
            QTest::addRow("%d, rebuilt JPEG", orientation) << orientation << true;
            QTest::addRow("%d, pixels", orientation) << orientation << false;
        }
    }

    // Every Exif orientation shows the photo upright, as Qt shows the JPEG itself.
    void orientation()
    {
        QFETCH(int, orientation);
        QFETCH(bool, reconstruction);
        const QString jpeg = orientedJpeg(orientation);
        QStringList flags{QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-e"), QStringLiteral("3")};
        if (!reconstruction)
            flags << QStringLiteral("--jpeg_store_metadata=0");
        const QString jxl = encode(jpeg, QStringLiteral("oriented-%1-%2.jxl").arg(orientation).arg(reconstruction),
                                   flags);
        const QImage image = thumbnail(jxl, 64);
        const QImage expected = expectedPicture(jpeg, 64);
        QCOMPARE(image.size(), expected.size());
        // The middle of each quadrant has its colour.
        for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
            const QPoint pixel(int(at.x() * image.width()), int(at.y() * image.height()));
            QVERIFY2(near(image.pixelColor(pixel), expected.pixelColor(pixel), 40),
                     qPrintable(image.pixelColor(pixel).name() + u" vs " + expected.pixelColor(pixel).name()));
        }
    }

    void inputNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("asUri");
        QTest::addColumn<QString>("host");
        QTest::newRow("path") << QStringLiteral("photo.jxl") << false << QString();
        QTest::newRow("path with spaces and CJK") << QStringLiteral("我的 照片 #1.jxl") << false << QString();
        QTest::newRow("file URI") << QStringLiteral("photo.jxl") << true << QString();
        QTest::newRow("file URI, percent-encoded") << QStringLiteral("我的 照片 #1%.jxl") << true << QString();
        QTest::newRow("file URI on localhost") << QStringLiteral("photo.jxl") << true << QStringLiteral("localhost");
    }

    // The %i of the entry is a path or a file:// URI, as file managers differ.
    void inputNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, asUri);
        QFETCH(QString, host);
        const QString folder = m_dir.filePath(QStringLiteral("names-%1").arg(++m_runs));
        const QString path = TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), folder, name);
        QUrl url = QUrl::fromLocalFile(path);
        url.setHost(host);
        const QString input = asUri ? url.toString(QUrl::FullyEncoded) : path;
        QCOMPARE(thumbnail(input, 64).size(),
                 expectedPicture(TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg")), 64).size());
        QCOMPARE(TestEnv::entries(folder), QStringList{name});
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("arguments");
        const QString in = TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        const QString out = QStringLiteral("thumbnail.png");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("no size") << QStringList{in, out};
        QTest::newRow("size 0") << QStringList{QStringLiteral("-s"), QStringLiteral("0"), in, out};
        QTest::newRow("size too large") << QStringList{QStringLiteral("-s"), QStringLiteral("4097"), in, out};
        QTest::newRow("size not a number") << QStringList{QStringLiteral("-s"), QStringLiteral("big"), in, out};
        QTest::newRow("no output") << QStringList{QStringLiteral("-s"), QStringLiteral("128"), in};
        QTest::newRow("three files") << QStringList{QStringLiteral("-s"), QStringLiteral("128"), in, out, out};
        QTest::newRow("unknown option") << QStringList{QStringLiteral("-x"), QStringLiteral("-s"), QStringLiteral("128"), in, out};
    }

    void usage()
    {
        QFETCH(QStringList, arguments);
        const QString folder = outputFolder();
        for (QString &argument : arguments)
            if (argument == QLatin1String("thumbnail.png"))
                argument = folder + u'/' + argument;
        expectRefused(arguments, 2, folder);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("input");
        const QString folder = m_dir.filePath(QStringLiteral("refused"));
        QDir().mkpath(folder);
        const auto write = [&](const QString &name, const QByteArray &bytes) -> QString {
            TestEnv::writeAll(folder + u'/' + name, bytes);
            return folder + u'/' + name;
        };
        const QByteArray huge = codestreamClaiming(100000, 100000);
        // The crafted header says what it is meant to say.
        if (parseJxlSize(huge) != QSize(100000, 100000) || parseJxlSize(inContainer(huge)) != QSize(100000, 100000))
            qFatal("the crafted size header does not read as 100000 x 100000");
        QTest::newRow("100000 × 100000, codestream") << write(QStringLiteral("huge.jxl"), huge);
        QTest::newRow("100000 × 100000, container") << write(QStringLiteral("huge-box.jxl"), inContainer(huge));
        QTest::newRow("1 × 100000000") << write(QStringLiteral("tall.jxl"), codestreamClaiming(1, 100000000));
        QTest::newRow("missing") << folder + QStringLiteral("/missing.jxl");
        QTest::newRow("a folder") << folder;
        QTest::newRow("empty") << write(QStringLiteral("empty.jxl"), {});
        QTest::newRow("a JPEG") << TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        QTest::newRow("cut short") << TestEnv::dataPath(QStringLiteral("jxl/truncated.jxl"));
        QTest::newRow("signature only") << write(QStringLiteral("signature.jxl"), QByteArray("\xFF\x0A", 2));
        const QString fifo = folder + QStringLiteral("/pipe.jxl");
        QVERIFY(mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        // Reading a pipe nobody writes to would wait forever.
        QTest::newRow("a named pipe") << fifo;
        QTest::newRow("a URI of another host") << QStringLiteral("file://elsewhere/tmp/photo.jxl");
        QTest::newRow("a remote URI") << QStringLiteral("sftp://host/photo.jxl");
    }

    void refused()
    {
        QFETCH(QString, input);
        const QString folder = outputFolder();
        expectRefused({QStringLiteral("-s"), QStringLiteral("128"), input, folder + QStringLiteral("/thumbnail.png")}, 1,
                      folder);
    }

    void unwritableOutput()
    {
        const QString folder = outputFolder();
        const QString input = TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl"));
        expectRefused({QStringLiteral("-s"), QStringLiteral("128"), input, folder + QStringLiteral("/missing/thumbnail.png")},
                      1, folder);
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        if (QFileInfo(folder).isWritable())
            QSKIP("running as root: a read-only folder is still writable");
        expectRefused({QStringLiteral("-s"), QStringLiteral("128"), input, folder + QStringLiteral("/thumbnail.png")}, 1,
                      folder);
    }

    // A disk with room for only the start of the PNG: the caller's file is left empty rather than
    // holding a cut-off picture, and an output that was not there does not appear.
    void fullDisk()
    {
        const ScratchVolume volume(outputFolder() + QStringLiteral("/volume"), 64 * 1024);
        if (!volume.isMounted())
            QSKIP("mounting a tmpfs needs root");
        QFile filler(volume.folder() + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        // from-jpeg.jxl at 128 pixels is a PNG of about 15 KB.
        QVERIFY(filler.resize(filler.size() - 8192));
        const QString made = volume.folder() + QStringLiteral("/made.png");
        TestEnv::writeAll(made, {});
        for (const QString &output : QStringList{made, volume.folder() + QStringLiteral("/missing.png")}) {
            QCOMPARE(run({QStringLiteral("-s"), QStringLiteral("128"), TestEnv::dataPath(QStringLiteral("jxl/from-jpeg.jxl")),
                          output}).exitCode,
                     1);
        }
        QCOMPARE(TestEnv::entries(volume.folder()), (QStringList{QStringLiteral("filler"), QStringLiteral("made.png")}));
        QCOMPARE(QFileInfo(made).size(), 0);
    }

    void truncated_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<qsizetype>("length");
        for (const char *name : {"from-jpeg.jxl", "pixels-only-codestream.jxl", "pixels-only-container.jxl"}) {
            const QString source = TestEnv::dataPath(QStringLiteral("jxl/") + QLatin1String(name));
            const qsizetype size = QFileInfo(source).size();
            QList<qsizetype> lengths{1, 2, 3, 8, 12, 16, 24, 32, 40, 48, 64, size - 1};
            for (qsizetype length = 100; length < size; length += size / 24)
                lengths << length;
            for (const qsizetype length : lengths)
                QTest::addRow("%s, %lld of %lld bytes", name, qlonglong(length), qlonglong(size)) << source << length;
        }
    }

    // A file cut anywhere is refused, never half drawn.
    void truncated()
    {
        QFETCH(QString, source);
        QFETCH(qsizetype, length);
        const QString input = m_dir.filePath(QStringLiteral("cut-%1.jxl").arg(++m_runs));
        TestEnv::writeAll(input, TestEnv::readAll(source).first(length));
        const QString folder = outputFolder();
        expectRefused({QStringLiteral("-s"), QStringLiteral("128"), input, folder + QStringLiteral("/thumbnail.png")}, 1,
                      folder);
    }

    // The installed entry's Exec line, with %s, %i and %o filled in and the program found on the
    // PATH as a file manager does, writes a PNG of the size asked: at a path the caller names, into
    // the file the caller made and holds open (tumbler reads the PNG through that descriptor), and
    // inside the sandbox GNOME's thumbnail factory runs thumbnailers in.
    void desktopEntry_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("input");
        QTest::addColumn<Caller>("caller");
        QTest::addColumn<QSize>("expected");
        const QString large = m_dir.filePath(QStringLiteral("large.jpg"));
        QVERIFY(quadrants(QSize(400, 300)).save(large, "jpeg", 95));
        const QString rebuilt = encode(large, QStringLiteral("large.jxl"), {QStringLiteral("--lossless_jpeg=1")});
        const QString uri = QUrl::fromLocalFile(rebuilt).toString(QUrl::FullyEncoded);
        QTest::newRow("normal") << 128 << uri << Caller::NamesPath << QSize(128, 96);
        QTest::newRow("large") << 256 << uri << Caller::NamesPath << QSize(256, 192);
        QTest::newRow("x-large, a path") << 512 << rebuilt << Caller::NamesPath << QSize(400, 300);
        QTest::newRow("normal, into the caller's open file") << 128 << rebuilt << Caller::HoldsOutputOpen << QSize(128, 96);
        QTest::newRow("large, in GNOME's sandbox") << 256 << rebuilt << Caller::GnomeSandbox << QSize(256, 192);
    }

    void desktopEntry()
    {
        QFETCH(int, size);
        QFETCH(QString, input);
        QFETCH(Caller, caller);
        QFETCH(QSize, expected);
        // Read as the desktop entry format says (a QSettings INI reader would take ";" for a comment).
        QStringList groups;
        QMap<QString, QString> keys;
        for (const QByteArray &line : TestEnv::readAll(QStringLiteral(PIKORA_THUMBNAILER_ENTRY)).split('\n')) {
            const QString text = QString::fromUtf8(line).trimmed();
            if (text.isEmpty() || text.startsWith(u'#'))
                continue;
            if (text.startsWith(u'[')) {
                groups << text;
                continue;
            }
            const qsizetype equals = text.indexOf(u'=');
            QVERIFY2(equals > 0 && !groups.isEmpty(), qPrintable(text));
            keys.insert(text.left(equals).trimmed(), text.mid(equals + 1).trimmed());
        }
        QCOMPARE(groups, QStringList{QStringLiteral("[Thumbnailer Entry]")});
        QCOMPARE(keys.keys(), (QStringList{QStringLiteral("Exec"), QStringLiteral("MimeType"), QStringLiteral("TryExec")}));
        QCOMPARE(keys.value(QStringLiteral("MimeType")), QStringLiteral("image/jxl;"));
        const QString tryExec = keys.value(QStringLiteral("TryExec"));
        QStringList exec = keys.value(QStringLiteral("Exec")).split(u' ', Qt::SkipEmptyParts);
        QVERIFY(!exec.isEmpty());
        QCOMPARE(exec.first(), tryExec);

        const QString folder = outputFolder();
        QString output = folder + QStringLiteral("/entry.png");
        QStringList written{QFileInfo(output).fileName()};
        QString program = QStandardPaths::findExecutable(QStringLiteral("bwrap"));
        QStringList sandbox;
        if (caller == Caller::GnomeSandbox) {
            if (program.isEmpty())
                QSKIP("bubblewrap is not installed (scripts/deps.sh installs it)");
            const CliRun probe = run({QStringLiteral("--ro-bind"), QStringLiteral("/"), QStringLiteral("/"),
                                   QStringLiteral("--unshare-all"), QStringLiteral("true")},
                                  program);
            if (probe.exitCode != 0)
                QSKIP(qPrintable(u"bubblewrap cannot make namespaces here: " + QString::fromLocal8Bit(probe.err)));
            sandbox = gnomeSandbox(input, folder);
            input = QStringLiteral("/tmp/gnome-desktop-file-to-thumbnail.jxl");
            output = QStringLiteral("/tmp/gnome-desktop-thumbnailer.png");
            // bubblewrap leaves the mount point of the input behind; GNOME removes it.
            written = QStringList{QFileInfo(input).fileName(), QFileInfo(output).fileName()};
        }
        // tumbler makes the file (g_file_new_tmp) and reads it back through that same descriptor;
        // bytes already in it must not trail the PNG.
        QFile held(output);
        if (caller == Caller::HoldsOutputOpen) {
            QVERIFY(held.open(QIODevice::ReadWrite | QIODevice::NewOnly));
            QVERIFY(held.write(QByteArray(256 * 1024, 'x')) == 256 * 1024 && held.flush() && held.seek(0));
        }
        for (QString &argument : exec) {
            argument.replace(QLatin1String("%s"), QString::number(size));
            argument.replace(QLatin1String("%i"), input);
            argument.replace(QLatin1String("%o"), output);
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath()
                                                       + QStringLiteral(":/usr/bin:/bin"));
        if (caller != Caller::GnomeSandbox) {
            program = QStandardPaths::findExecutable(exec.takeFirst(), {environment.value(QStringLiteral("PATH")).split(u':')});
            QCOMPARE(program, QStringLiteral(PIKORA_THUMBNAILER_PATH));
        }
        const CliRun result = run(sandbox + exec, program, environment);
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QCOMPARE(TestEnv::entries(folder), written);
        QByteArray png = TestEnv::readAll(folder + u'/' + written.last());
        if (caller == Caller::HoldsOutputOpen)
            png = held.readAll();
        QVERIFY(png.endsWith(QByteArray("IEND\xAE\x42\x60\x82", 8)));
        QCOMPARE(QImage::fromData(png, "png").size(), expected);
    }

    // Thunar's way: tumbler on a bus of its own, with the installed entry and this build's program on
    // its PATH, asked over D-Bus for converted photos and a damaged file in each flavor. It reads the
    // PNG back through the file it made and writes the freedesktop thumbnail cache itself.
    void thumbnailService()
    {
        // Under the multiarch library folder on Debian, under /usr/lib elsewhere.
        QStringList libraries = QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        libraries << QString();
        QString tumblerd;
        for (const QString &folder : std::as_const(libraries))
            if (QFileInfo(QStringLiteral("/usr/lib/%1/tumbler-1/tumblerd").arg(folder)).isExecutable())
                tumblerd = QDir::cleanPath(QStringLiteral("/usr/lib/%1/tumbler-1/tumblerd").arg(folder));
        if (tumblerd.isEmpty())
            QSKIP("tumblerd is not installed (scripts/deps.sh installs tumbler)");

        const QString root = m_dir.filePath(QStringLiteral("service-%1").arg(++m_runs));
        const QString share = root + QStringLiteral("/share");
        TestEnv::writeAll(share + QStringLiteral("/thumbnailers/pikora-jxl.thumbnailer"),
                          TestEnv::readAll(QStringLiteral(PIKORA_THUMBNAILER_ENTRY)));
        // gdk-pixbuf, which tumbler reads the PNG with, tells formats apart by the MIME database.
        QVERIFY(QFile::link(QStringLiteral("/usr/share/mime"), share + QStringLiteral("/mime")));
        // Where gdk-pixbuf has a JPEG XL loader, tumbler's own image plugin would answer first.
        TestEnv::writeAll(root + QStringLiteral("/config/tumbler/tumbler.rc"), "[PixbufThumbnailer]\nDisabled=true\n");
        const QString temporaries = root + QStringLiteral("/tmp");
        QVERIFY(QDir().mkpath(temporaries));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_DIRS"), share);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/home/.local/share"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/config"));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("/cache"));
        environment.insert(QStringLiteral("HOME"), root + QStringLiteral("/home"));
        environment.insert(QStringLiteral("TMPDIR"), temporaries);
        environment.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath()
                                                       + QStringLiteral(":/usr/bin:/bin"));

        const QString photos = root + QStringLiteral("/photos");
        const QString camera = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Reconyx_HC500_Hyperfire.jpg"));
        const QString small = TestEnv::dataPath(QStringLiteral("jpeg/cameras/Canon_40D.jpg"));
        // URI of each file asked for → the JPEG it was converted from (none: damaged).
        QMap<QString, QString> asked;
        const auto uri = [](const QString &path) { return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded); };
        QDir().mkpath(photos);
        asked.insert(uri(encode(camera, QStringLiteral("service-%1/photos/Reconyx.jxl").arg(m_runs),
                                {QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-e"), QStringLiteral("3")})),
                     camera);
        asked.insert(uri(TestEnv::copyData(QStringLiteral("jxl/from-jpeg.jxl"), photos, QStringLiteral("我的 照片 #1.jxl"))),
                     small);
        const QString damaged =
            uri(TestEnv::copyData(QStringLiteral("jxl/truncated.jxl"), photos, QStringLiteral("damaged.jxl")));
        asked.insert(damaged, QString());

        QProcess bus;
        bus.setProcessEnvironment(environment);
        // Its socket in the test's folder, not a stray one in /tmp.
        bus.start(QStringLiteral("dbus-daemon"), QStringLiteral("--session --nofork --print-address").split(u' ')
                                                     << QStringLiteral("--address=unix:path=") + root + QStringLiteral("/bus"));
        QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), kServiceMilliseconds);
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        QProcess service;
        service.setProcessEnvironment(environment);
        service.start(tumblerd, QStringList());
        const auto stop = qScopeGuard([&service, &bus] {
            for (QProcess *process : {&service, &bus}) {
                process->kill();
                process->waitForFinished();
            }
        });
        const QString connectionName = QStringLiteral("tumbler-%1").arg(m_runs);
        QDBusConnection connection = QDBusConnection::connectToBus(address, connectionName);
        const auto disconnect = qScopeGuard([&connectionName] { QDBusConnection::disconnectFromBus(connectionName); });
        QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
        const QString name = QStringLiteral("org.freedesktop.thumbnails.Thumbnailer1");
        const QString path = QStringLiteral("/org/freedesktop/thumbnails/Thumbnailer1");
        QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(name).value(), kServiceMilliseconds);

        ThumbnailerSignals events;
        QVERIFY(connection.connect(QString(), path, name, QStringLiteral("Ready"), &events, SIGNAL(ready(uint,QStringList))));
        QVERIFY(connection.connect(QString(), path, name, QStringLiteral("Error"), &events,
                                   SIGNAL(error(uint,QStringList,int,QString))));
        QVERIFY(connection.connect(QString(), path, name, QStringLiteral("Finished"), &events, SIGNAL(finished(uint))));
        QSignalSpy ready(&events, &ThumbnailerSignals::ready);
        QSignalSpy error(&events, &ThumbnailerSignals::error);
        QSignalSpy finished(&events, &ThumbnailerSignals::finished);
        const QString cache = root + QStringLiteral("/cache/thumbnails/");
        const auto md5 = [](const QString &text) {
            return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
        };
        QStringList converted = asked.keys();
        converted.removeOne(damaged);
        for (const auto &[flavor, size] : {std::pair(QStringLiteral("normal"), 128), std::pair(QStringLiteral("large"), 256)}) {
            ready.clear();
            error.clear();
            finished.clear();
            QDBusMessage queue = QDBusMessage::createMethodCall(name, path, name, QStringLiteral("Queue"));
            queue << QStringList(asked.keys()) << QStringList(asked.size(), QStringLiteral("image/jxl")) << flavor
                  << QStringLiteral("default") << 0U;
            const QDBusReply<uint> handle = connection.call(queue);
            QVERIFY2(handle.isValid(), qPrintable(handle.error().message()));
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kServiceMilliseconds);
            QCOMPARE(finished.first().first().toUInt(), handle.value());

            QStringList made;
            for (const QList<QVariant> &arguments : std::as_const(ready)) {
                QCOMPARE(arguments.at(0).toUInt(), handle.value());
                made += arguments.at(1).toStringList();
            }
            QStringList failed;
            for (const QList<QVariant> &arguments : std::as_const(error)) {
                QCOMPARE(arguments.at(0).toUInt(), handle.value());
                failed += arguments.at(1).toStringList();
            }
            made.sort();
            QCOMPARE(made, converted);
            QCOMPARE(failed, QStringList{damaged});

            for (const QString &photo : std::as_const(made)) {
                const QImage image(cache + flavor + u'/' + md5(photo) + QStringLiteral(".png"), "png");
                QVERIFY2(!image.isNull(), qPrintable(flavor + u' ' + photo));
                const QImage expected = expectedPicture(asked.value(photo), size);
                QCOMPARE(image.size(), expected.size());
                QVERIFY2(near(average(image), average(expected), 8),
                         qPrintable(average(image).name() + u" vs " + average(expected).name()));
                QCOMPARE(image.text(QStringLiteral("Thumb::URI")), photo);
                // Whole seconds as readers take them (tumbler adds a fraction).
                const QDateTime modified = QFileInfo(QUrl(photo).toLocalFile()).lastModified();
                QCOMPARE(image.text(QStringLiteral("Thumb::MTime")).section(u'.', 0, 0),
                         QString::number(modified.toSecsSinceEpoch()));
            }
        }
        // No thumbnail of the damaged file; a record of the failure may go under fail/ only.
        QDirIterator files(cache, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            QVERIFY2(!file.endsWith(md5(damaged) + QStringLiteral(".png")) || file.startsWith(cache + QStringLiteral("fail/")),
                     qPrintable(file));
        }
        // Nothing left of tumbler's files or of ours.
        QCOMPARE(TestEnv::entries(temporaries), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestThumbnailer)
#include "tst_thumbnailer.moc"
