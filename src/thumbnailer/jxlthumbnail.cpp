#include "thumbnailer/jxlthumbnail.h"

#include "engine/imageheader.h"
#include "imaging/photodecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QSaveFile>
#include <QUrl>

#include <cerrno>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace JxlThumbnail {

namespace {

// Room for the libraries, the file and the decoder's buffers of the largest picture accepted.
[[maybe_unused]] constexpr rlim_t kAddressSpace = rlim_t(2) << 30;
// A photo the decoder accepts is read in a fraction of this; only a crafted one takes longer.
constexpr rlim_t kCpuSeconds = 10;

QString text(const char *source)
{
    return QCoreApplication::translate("JxlThumbnail", source);
}

// The caller's own file, which it may hold open and read through its descriptor (tumbler does):
// written in place, never replaced. No fsync: a thumbnail lost to a power cut is made again, and
// the caller reads it from the page cache at once.
bool writeInto(int fd, const QByteArray &png, QString *reason)
{
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    QFile file;
    if (!regular || !file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        *reason = regular ? file.errorString() : text(QT_TRANSLATE_NOOP("JxlThumbnail", "输出位置不是普通文件"));
        ::close(fd);
        return false;
    }
    if (!file.resize(0) || file.write(png) != png.size()) {
        *reason = file.errorString();
        // An empty file, not a cut-off picture, is what a failed run leaves behind.
        file.resize(0);
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

// Nobody holds a file that is not there yet: it appears whole under its name or not at all.
// Unbuffered, so that a short write on a full disk is seen (a buffered one is committed).
bool writeNew(const QString &output, const QByteArray &png, QString *reason)
{
    QSaveFile file(output);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(png) != png.size() || !file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace

QString inputPath(const QString &argument)
{
    if (!argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return argument;
    QUrl url(argument);
    if (!url.isValid() || !url.isLocalFile())
        return {};
    // file://localhost/x is /x; any other host names a file elsewhere.
    if (url.host() == QLatin1String("localhost"))
        url.setHost(QString());
    else if (!url.host().isEmpty())
        return {};
    return url.toLocalFile();
}

void limitResources()
{
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // Only lowered, never raised: a stricter limit of the caller stays.
    const auto lower = [](int resource, rlim_t value) {
        rlimit limit{};
        if (getrlimit(resource, &limit) != 0)
            return;
        if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > value)
            limit.rlim_cur = value;
        setrlimit(resource, &limit);
    };
// The address sanitizer reserves far more address space than it uses (clang 14 does not say so
// with __SANITIZE_ADDRESS__, hence the build's own mark).
#if !defined(__SANITIZE_ADDRESS__) && !defined(PIKORA_ADDRESS_SANITIZER)
    lower(RLIMIT_AS, kAddressSpace);
#endif
    lower(RLIMIT_CPU, kCpuSeconds);
}

void liftCpuLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_CPU, &limit);
}

QImage make(const QString &path, int size, QString *reason)
{
    const auto fail = [reason](const QString &why) {
        *reason = why;
        return QImage();
    };
    // Not a pipe or a device: reading one could wait forever.
    if (!QFileInfo(path).isFile())
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "不是普通文件")));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    if (!PhotoDecoder::isJxl(file.peek(16)))
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "不是 JPEG XL 文件")));

    const std::optional<qint64> pixels = imagePixelCount(path);
    if (!pixels || *pixels < 1)
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "JPEG XL 文件头中没有图像尺寸")));
    if (*pixels > PhotoDecoder::pixelLimit())
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "图像有 %1 像素，超过了生成缩略图的上限 %2 像素"))
                        .arg(*pixels)
                        .arg(PhotoDecoder::pixelLimit()));
    if (file.size() > qint64(QImageReader::allocationLimit()) * 1024 * 1024)
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "文件太大，无法读取")));

    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        return fail(file.errorString());
    const QImage image = PhotoDecoder::decodeJxl(bytes, size);
    if (image.isNull())
        return fail(text(QT_TRANSLATE_NOOP("JxlThumbnail", "无法解码此 JPEG XL 文件")));
    return image;
}

bool writePng(const QImage &image, const QString &output, QString *reason)
{
    QImage picture = image;
    // What readers of thumbnails assume.
    if (picture.colorSpace().isValid() && picture.colorSpace() != QColorSpace(QColorSpace::SRgb))
        picture.convertToColorSpace(QColorSpace::SRgb);
    picture.setColorSpace(QColorSpace());

    // Encoded first, so the file is open only for the write itself.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !picture.save(&buffer, "png")) {
        *reason = text(QT_TRANSLATE_NOOP("JxlThumbnail", "无法编码 PNG"));
        return false;
    }

    // Not through a link planted at the path, and never waiting on a pipe nobody reads.
    const int fd = ::open(QFile::encodeName(output).constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        return writeInto(fd, png, reason);
    if (errno == ENOENT)
        return writeNew(output, png, reason);
    *reason = qt_error_string(errno);
    return false;
}

} // namespace JxlThumbnail
