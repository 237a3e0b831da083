#include "clirun.h"
#include "engine/imageheader.h"
#include "exifjpeg.h"
#include "scratchvolume.h"
#include "testenv.h"
#include "testpictures.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using namespace TestPictures;

namespace {

// tumblerd loads all its plugins before it answers (seconds on a loaded machine): only a hang reaches this.
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

Q_SIGNALS:
    void ready(uint handle, const QStringList &uris);
    void error(uint handle, const QStringList &uris, int code, const QString &message);
    void finished(uint handle);
};

} // namespace

Q_DECLARE_METATYPE(Caller)

// pikora-thumbnailer run as file managers run it, on real JPEG XL files and on hostile ones.
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
        const QString folder = m_dir.filePath(u"out-%1"_s.arg(++m_runs));
        QDir().mkpath(folder);
        return folder;
    }

    QString encode(const QString &source, const QString &name, const QStringList &flags)
    {
        const QString target = m_dir.filePath(name);
        QProcess cjxl;
        cjxl.start(m_cjxl, QStringList{source, target, u"-e"_s, u"3"_s} + flags);
        if (!cjxl.waitForFinished(120000) || cjxl.exitStatus() != QProcess::NormalExit || cjxl.exitCode() != 0)
            qFatal("cjxl could not encode %s: %s", qPrintable(source), cjxl.readAllStandardError().constData());
        return target;
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

    // The bubblewrap arguments gnome-desktop puts before a thumbnailer: the system (and the build's
    // program folder, as another prefix) read-only, nothing shared, /tmp the output, the input in it.
    static QStringList gnomeSandbox(const QString &input, const QString &outputFolder)
    {
        QStringList arguments = u"--ro-bind /usr /usr --ro-bind /etc/ld.so.cache /etc/ld.so.cache"_s.split(u' ');
        for (const char *name : {"bin", "lib64", "lib", "sbin"}) {
            const QString folder = u'/' + QLatin1String(name);
            if (!QFileInfo::exists(folder))
                continue;
            if (QFileInfo(folder).canonicalFilePath() == QFileInfo(u"/usr"_s + folder).canonicalFilePath())
                arguments << u"--symlink"_s << u"/usr"_s + folder << folder;
            else
                arguments << u"--ro-bind"_s << folder << folder;
        }
        const QString programs = QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath();
        arguments << u"--proc /proc --dev /dev --chdir / --setenv GIO_USE_VFS local --unshare-all --die-with-parent"_s.split(u' ')
                  << u"--ro-bind"_s << programs << programs << u"--bind"_s << outputFolder << u"/tmp"_s << u"--ro-bind"_s
                  << input << u"/tmp/gnome-desktop-file-to-thumbnail.jxl"_s;
        // A sanitized build's suppressions and report folder, so findings in the sandbox fail the run.
        for (const char *name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"}) {
            for (const QString &option : qEnvironmentVariable(name).split(u':', Qt::SkipEmptyParts)) {
                if (option.startsWith(u"suppressions="_s))
                    arguments << u"--ro-bind"_s << option.mid(13) << option.mid(13);
                else if (option.startsWith(u"log_path="_s))
                    arguments << u"--bind"_s << QFileInfo(option.mid(9)).absolutePath() << QFileInfo(option.mid(9)).absolutePath();
            }
        }
        return arguments;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_cjxl = TestEnv::installedTool(u"cjxl"_s);
        QVERIFY2(!m_cjxl.isEmpty(), "cjxl is not installed");
    }

    // Every Exif orientation, rebuilt as a JPEG and drawn from pixels, shows upright as Qt shows the JPEG.
    void orientation_data()
    {
        QTest::addColumn<QString>("jxl");
        QTest::addColumn<QString>("jpeg");
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const QString jpeg = m_dir.filePath(u"oriented-%1.jpg"_s.arg(orientation));
            TestEnv::writeAll(jpeg, ExifJpeg::withExif(ExifJpeg::jpeg(quadrants(QSize(96, 48)), 95), {false, orientation, {}, {}, {}, {}}));
            QTest::addRow("%d, rebuilt JPEG", orientation) << encode(jpeg, u"oriented-%1.jxl"_s.arg(orientation), {u"--lossless_jpeg=1"_s}) << jpeg;
            QTest::addRow("%d, pixels", orientation)
                << encode(jpeg, u"oriented-%1-pixels.jxl"_s.arg(orientation), {u"--lossless_jpeg=1"_s, u"--jpeg_store_metadata=0"_s}) << jpeg;
        }
    }

    void orientation()
    {
        QFETCH(QString, jxl);
        QFETCH(QString, jpeg);
        const QString folder = outputFolder();
        const CliRun result = run({u"-s"_s, u"64"_s, jxl, folder + u"/t.png"_s});
        QVERIFY2(result.exitCode == 0, result.err.constData());
        const QImage image(folder + u"/t.png"_s, "png");
        const QImage expected = expectedPicture(jpeg, 64);
        QCOMPARE(image.size(), expected.size());
        for (const QPointF at : {QPointF(0.25, 0.25), QPointF(0.75, 0.25), QPointF(0.25, 0.75), QPointF(0.75, 0.75)}) {
            const QPoint pixel(int(at.x() * image.width()), int(at.y() * image.height()));
            QVERIFY2(near(image.pixelColor(pixel), expected.pixelColor(pixel), 40),
                     qPrintable(image.pixelColor(pixel).name() + u" vs " + expected.pixelColor(pixel).name()));
        }
    }

    // The size asked (never enlarged) of a path or file:// URI; refused with a reason and nothing
    // written: bad usage (status 2), and (1) what is no local JPEG XL file, a cut file, a header
    // crafted to make a reader allocate a huge picture, an output that cannot be written.
    void runs_data()
    {
        QTest::addColumn<QStringList>("arguments"); // {out}: an empty folder for the output
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QSize>("expected"); // invalid: nothing written
        const QString from = TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s); // 100 × 68
        const auto at = [](int size, const QString &input) { return QStringList{u"-s"_s, QString::number(size), input, u"{out}/t.png"_s}; };
        const auto refused = [&](const char *name, const QString &input) { QTest::newRow(name) << at(128, input) << 1 << QSize(); };
        // pixels-only-codestream.jxl is 320 × 240.
        for (const auto &[size, expected] : QList<std::pair<int, QSize>>{{1, {1, 1}}, {17, {17, 12}}, {256, {256, 192}}, {4096, {320, 240}}})
            QTest::addRow("size %d", size) << at(size, TestEnv::dataPath(u"jxl/pixels-only-codestream.jxl"_s)) << 0 << expected;

        const QString named = TestEnv::copyData(u"jxl/from-jpeg.jxl"_s, m_dir.filePath(u"names"_s), u"我的 照片 #1%.jxl"_s);
        QUrl localhost = QUrl::fromLocalFile(named);
        localhost.setHost(u"localhost"_s);
        QTest::newRow("path with spaces and CJK") << at(128, named) << 0 << QSize(100, 68);
        QTest::newRow("file URI, percent-encoded") << at(128, QUrl::fromLocalFile(named).toString(QUrl::FullyEncoded)) << 0 << QSize(100, 68);
        QTest::newRow("file URI on localhost") << at(128, localhost.toString(QUrl::FullyEncoded)) << 0 << QSize(100, 68);

        QTest::newRow("nothing") << QStringList() << 2 << QSize();
        QTest::newRow("size 0") << at(0, from) << 2 << QSize();
        QTest::newRow("size too large") << at(4097, from) << 2 << QSize();
        QTest::newRow("no output") << at(128, from).mid(0, 3) << 2 << QSize();
        QTest::newRow("unknown option") << QStringList{u"-x"_s} + at(128, from) << 2 << QSize();

        const QString folder = m_dir.filePath(u"refused"_s);
        const auto write = [&](const QString &name, const QByteArray &bytes) -> QString {
            TestEnv::writeAll(folder + u'/' + name, bytes);
            return folder + u'/' + name;
        };
        // Size headers claiming 100000 × 100000 (bare and in a container) and 1 × 100000000.
        const QByteArray huge = QByteArray::fromHex("ff0afe340c00f0a7610010") + QByteArray(64, '\0');
        const QByteArray boxed = QByteArray::fromHex("0000000c4a584c200d0a870a00000014667479706a786c20000000006a786c20"
                                                     "000000536a786c63") + huge;
        const QByteArray tall = QByteArray::fromHex("ff0afe07af2f3000000010") + QByteArray(64, '\0');
        if (parseJxlSize(huge) != QSize(100000, 100000) || parseJxlSize(boxed) != QSize(100000, 100000)
            || parseJxlSize(tall) != QSize(1, 100000000))
            qFatal("the crafted size headers do not read as meant");
        refused("100000 × 100000, codestream", write(u"huge.jxl"_s, huge));
        refused("100000 × 100000, container", write(u"huge-box.jxl"_s, boxed));
        refused("1 × 100000000", write(u"tall.jxl"_s, tall));
        refused("missing", folder + u"/missing.jxl"_s);
        refused("a folder", folder);
        refused("a JPEG", TestEnv::dataPath(u"jpeg/cameras/Canon_40D.jpg"_s));
        refused("cut short", TestEnv::dataPath(u"jxl/truncated.jxl"_s));
        // Reading a pipe nobody writes to would wait forever.
        QVERIFY(mkfifo(QFile::encodeName(folder + u"/pipe.jxl"_s).constData(), 0600) == 0);
        refused("a named pipe", folder + u"/pipe.jxl"_s);
        refused("a URI of another host", u"file://elsewhere/tmp/photo.jxl"_s);
        QTest::newRow("output folder missing") << QStringList{u"-s"_s, u"128"_s, from, u"{out}/missing/t.png"_s} << 1 << QSize();
    }

    void runs()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QSize, expected);
        const QString folder = outputFolder();
        const CliRun result = run(arguments.replaceInStrings(u"{out}"_s, folder));
        QVERIFY2(result.exitCode == exitCode, result.err.constData());
        if (!expected.isValid()) {
            QVERIFY(!result.err.trimmed().isEmpty());
            QCOMPARE(TestEnv::entries(folder), QStringList());
            return;
        }
        QCOMPARE(TestEnv::entries(folder), QStringList{u"t.png"_s});
        QCOMPARE(QImage(folder + u"/t.png"_s, "png").size(), expected);
    }

    // A disk with room for only the start of the PNG leaves the caller's file empty, and makes no new one.
    void fullDisk()
    {
        const ScratchVolume volume(outputFolder() + u"/volume"_s, 64 * 1024);
        if (!volume.isMounted())
            QSKIP("mounting a tmpfs needs root");
        QFile filler(volume.folder() + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(4096, 'x')) == 4096) {
        }
        // from-jpeg.jxl at 128 pixels is a PNG of about 15 KB.
        QVERIFY(filler.resize(filler.size() - 8192));
        const QString made = volume.folder() + u"/made.png"_s;
        TestEnv::writeAll(made, {});
        for (const QString &output : QStringList{made, volume.folder() + u"/missing.png"_s})
            QCOMPARE(run({u"-s"_s, u"128"_s, TestEnv::dataPath(u"jxl/from-jpeg.jxl"_s), output}).exitCode, 1);
        QCOMPARE(TestEnv::entries(volume.folder()), (QStringList{u"filler"_s, u"made.png"_s}));
        QCOMPARE(QFileInfo(made).size(), 0);
    }

    // The installed entry's Exec line, filled in and found on the PATH as a file manager does,
    // writes a PNG of the size asked: at a path the caller names, into the file the caller made
    // and holds open (tumbler reads it through that descriptor), and inside GNOME's sandbox.
    void desktopEntry_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("input");
        QTest::addColumn<Caller>("caller");
        QTest::addColumn<QSize>("expected");
        const QString large = m_dir.filePath(u"large.jpg"_s);
        QVERIFY(quadrants(QSize(400, 300)).save(large, "jpeg", 95));
        const QString rebuilt = encode(large, u"large.jxl"_s, {u"--lossless_jpeg=1"_s});
        const QString uri = QUrl::fromLocalFile(rebuilt).toString(QUrl::FullyEncoded);
        QTest::newRow("normal") << 128 << uri << Caller::NamesPath << QSize(128, 96);
        QTest::newRow("normal, into the caller's open file") << 128 << rebuilt << Caller::HoldsOutputOpen << QSize(128, 96);
        QTest::newRow("large, in GNOME's sandbox") << 256 << rebuilt << Caller::GnomeSandbox << QSize(256, 192);
    }

    void desktopEntry()
    {
        QFETCH(int, size);
        QFETCH(QString, input);
        QFETCH(Caller, caller);
        QFETCH(QSize, expected);
        static const QRegularExpression execLine(u"^Exec=(.+)$"_s, QRegularExpression::MultilineOption);
        QStringList exec = execLine.match(QString::fromUtf8(TestEnv::readAll(QStringLiteral(PIKORA_THUMBNAILER_ENTRY))))
                               .captured(1).split(u' ', Qt::SkipEmptyParts);
        QVERIFY(!exec.isEmpty());
        const QString folder = outputFolder();
        QString output = folder + u"/entry.png"_s;
        QStringList written{u"entry.png"_s};
        QString program = QStandardPaths::findExecutable(u"bwrap"_s);
        QStringList sandbox;
        if (caller == Caller::GnomeSandbox) {
            if (program.isEmpty())
                QSKIP("bubblewrap is not installed (scripts/deps.sh installs it)");
            const CliRun probe = run({u"--ro-bind"_s, u"/"_s, u"/"_s, u"--unshare-all"_s, u"true"_s}, program);
            if (probe.exitCode != 0)
                QSKIP(qPrintable(u"bubblewrap cannot make namespaces here: " + QString::fromLocal8Bit(probe.err)));
            sandbox = gnomeSandbox(input, folder);
            input = u"/tmp/gnome-desktop-file-to-thumbnail.jxl"_s;
            output = u"/tmp/gnome-desktop-thumbnailer.png"_s;
            // bubblewrap leaves the mount point of the input behind; GNOME removes it.
            written = QStringList{QFileInfo(input).fileName(), QFileInfo(output).fileName()};
        }
        // tumbler reads its file back through its descriptor: bytes already in it must not trail the PNG.
        QFile held(output);
        if (caller == Caller::HoldsOutputOpen) {
            QVERIFY(held.open(QIODevice::ReadWrite | QIODevice::NewOnly));
            QVERIFY(held.write(QByteArray(256 * 1024, 'x')) == 256 * 1024 && held.flush() && held.seek(0));
        }
        for (QString &argument : exec)
            argument.replace(u"%s"_s, QString::number(size)).replace(u"%i"_s, input).replace(u"%o"_s, output);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"PATH"_s, QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath() + u":/usr/bin:/bin"_s);
        if (caller != Caller::GnomeSandbox) {
            program = QStandardPaths::findExecutable(exec.takeFirst(), {environment.value(u"PATH"_s).split(u':')});
            QCOMPARE(program, QStringLiteral(PIKORA_THUMBNAILER_PATH));
        }
        const CliRun result = run(sandbox + exec, program, environment);
        QVERIFY2(result.exitCode == 0, result.err.constData());
        QCOMPARE(TestEnv::entries(folder), written);
        const QByteArray png = caller == Caller::HoldsOutputOpen ? held.readAll() : TestEnv::readAll(folder + u'/' + written.last());
        QVERIFY(png.endsWith(QByteArray("IEND\xAE\x42\x60\x82", 8)));
        QCOMPARE(QImage::fromData(png, "png").size(), expected);
    }

    // Thunar's way: tumbler on a bus of its own asked for converted photos and a damaged file in each flavor.
    void thumbnailService()
    {
        // Under the multiarch library folder on Debian, under /usr/lib elsewhere.
        QString tumblerd;
        const QStringList libraries = QDir(u"/usr/lib"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot) << QString();
        for (const QString &folder : libraries)
            if (QFileInfo(u"/usr/lib/%1/tumbler-1/tumblerd"_s.arg(folder)).isExecutable())
                tumblerd = QDir::cleanPath(u"/usr/lib/%1/tumbler-1/tumblerd"_s.arg(folder));
        if (tumblerd.isEmpty())
            QSKIP("tumblerd is not installed (scripts/deps.sh installs tumbler)");

        const QString root = m_dir.filePath(u"service"_s);
        TestEnv::writeAll(root + u"/share/thumbnailers/pikora-jxl.thumbnailer"_s, TestEnv::readAll(QStringLiteral(PIKORA_THUMBNAILER_ENTRY)));
        // gdk-pixbuf tells formats apart by the MIME database.
        QVERIFY(QFile::link(u"/usr/share/mime"_s, root + u"/share/mime"_s));
        // Where gdk-pixbuf has a JPEG XL loader, tumbler's own image plugin would answer first.
        TestEnv::writeAll(root + u"/config/tumbler/tumbler.rc"_s, "[PixbufThumbnailer]\nDisabled=true\n");
        QVERIFY(QDir().mkpath(root + u"/tmp"_s));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const auto &[variable, value] : {std::pair("XDG_DATA_DIRS", "/share"), {"XDG_DATA_HOME", "/home/.local/share"},
                                              {"XDG_CONFIG_HOME", "/config"}, {"XDG_CACHE_HOME", "/cache"}, {"HOME", "/home"},
                                              {"TMPDIR", "/tmp"}})
            environment.insert(QLatin1String(variable), root + QLatin1String(value));
        environment.insert(u"PATH"_s, QFileInfo(QStringLiteral(PIKORA_THUMBNAILER_PATH)).absolutePath() + u":/usr/bin:/bin"_s);

        // URI of each file asked for → the JPEG it was converted from (none: damaged).
        const QString photos = root + u"/photos"_s;
        const QString camera = TestEnv::dataPath(u"jpeg/cameras/Reconyx_HC500_Hyperfire.jpg"_s);
        const auto uri = [](const QString &path) { return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded); };
        QVERIFY(QDir().mkpath(photos));
        const QString damaged = uri(TestEnv::copyData(u"jxl/truncated.jxl"_s, photos, u"damaged.jxl"_s));
        const QMap<QString, QString> asked{
            {uri(encode(camera, u"service/photos/Reconyx.jxl"_s, {u"--lossless_jpeg=1"_s})), camera},
            {uri(TestEnv::copyData(u"jxl/from-jpeg.jxl"_s, photos, u"我的 照片 #1.jxl"_s)),
             TestEnv::dataPath(u"jpeg/cameras/Canon_40D.jpg"_s)},
            {damaged, QString()}};

        QProcess bus;
        bus.setProcessEnvironment(environment);
        // Its socket in the test's folder, not a stray one in /tmp.
        bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address"_s, u"--address=unix:path="_s + root + u"/bus"_s});
        QTRY_VERIFY_WITH_TIMEOUT(bus.canReadLine(), kServiceMilliseconds);
        const QString address = QString::fromUtf8(bus.readLine().trimmed());
        environment.insert(u"DBUS_SESSION_BUS_ADDRESS"_s, address);
        QProcess service;
        service.setProcessEnvironment(environment);
        service.start(tumblerd, QStringList());
        const auto stop = qScopeGuard([&service, &bus] {
            for (QProcess *process : {&service, &bus}) {
                process->kill();
                process->waitForFinished();
            }
        });
        QDBusConnection connection = QDBusConnection::connectToBus(address, u"tumbler"_s);
        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"tumbler"_s); });
        QVERIFY2(connection.isConnected(), qPrintable(connection.lastError().message()));
        const QString name = u"org.freedesktop.thumbnails.Thumbnailer1"_s;
        const QString path = u"/org/freedesktop/thumbnails/Thumbnailer1"_s;
        QTRY_VERIFY_WITH_TIMEOUT(connection.interface()->isServiceRegistered(name).value(), kServiceMilliseconds);

        ThumbnailerSignals events;
        QVERIFY(connection.connect(QString(), path, name, u"Ready"_s, &events, SIGNAL(ready(uint,QStringList))));
        QVERIFY(connection.connect(QString(), path, name, u"Error"_s, &events, SIGNAL(error(uint,QStringList,int,QString))));
        QVERIFY(connection.connect(QString(), path, name, u"Finished"_s, &events, SIGNAL(finished(uint))));
        QSignalSpy ready(&events, &ThumbnailerSignals::ready);
        QSignalSpy error(&events, &ThumbnailerSignals::error);
        QSignalSpy finished(&events, &ThumbnailerSignals::finished);
        const QString cache = root + u"/cache/thumbnails/"_s;
        // The URIs a signal of this request named.
        const auto named = [](const QSignalSpy &spy, uint handle) {
            QStringList uris;
            for (const QList<QVariant> &arguments : spy)
                uris += arguments.at(0).toUInt() == handle ? arguments.at(1).toStringList() : QStringList{u"another request"_s};
            uris.sort();
            return uris;
        };
        QStringList converted = asked.keys();
        converted.removeOne(damaged);
        for (const auto &[flavor, size] : {std::pair(u"normal"_s, 128), std::pair(u"large"_s, 256)}) {
            for (QSignalSpy *spy : {&ready, &error, &finished})
                spy->clear();
            QDBusMessage queue = QDBusMessage::createMethodCall(name, path, name, u"Queue"_s);
            queue << asked.keys() << QStringList(asked.size(), u"image/jxl"_s) << flavor << u"default"_s << 0U;
            const QDBusReply<uint> handle = connection.call(queue);
            QVERIFY2(handle.isValid(), qPrintable(handle.error().message()));
            QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, kServiceMilliseconds);
            QCOMPARE(finished.first().first().toUInt(), handle.value());
            QCOMPARE(named(ready, handle.value()), converted);
            QCOMPARE(named(error, handle.value()), QStringList{damaged});

            for (const QString &photo : std::as_const(converted)) {
                const QByteArray md5 = QCryptographicHash::hash(photo.toUtf8(), QCryptographicHash::Md5).toHex();
                const QImage image(cache + flavor + u'/' + QString::fromLatin1(md5) + u".png"_s, "png");
                const QImage expected = expectedPicture(asked.value(photo), size);
                QCOMPARE(image.size(), expected.size());
                QVERIFY2(near(average(image), average(expected), 8),
                         qPrintable(average(image).name() + u" vs " + average(expected).name()));
            }
        }
        QCOMPARE(TestEnv::entries(root + u"/tmp"_s), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestThumbnailer)
#include "tst_thumbnailer.moc"
