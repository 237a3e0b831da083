// pikora-thumbnailer's decode path, as a file manager drives it on any .jxl it shows: the header
// check, then libjxl (the JPEG rebuilt, else the pixels) and Qt's JPEG reader, with the picture
// limit made small so that a run tries many files rather than a few large ones.
#include "imaging/photodecoder.h"
#include "thumbnailer/jxlthumbnail.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <memory>

namespace {

constexpr int kSize = 48;
QTemporaryDir *scratch = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    // 4 MiB of pixels: a 1024 × 1024 picture, still past every sample's size.
    QImageReader::setAllocationLimit(4);
    scratch = new QTemporaryDir;
    if (!scratch->isValid())
        qFatal("no temporary folder");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = scratch->filePath(QStringLiteral("input.jxl"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        qFatal("cannot write the input");
    file.close();

    QString reason;
    const QImage image = JxlThumbnail::make(path, kSize, &reason);
    if (image.isNull() == reason.isEmpty())
        qFatal("a thumbnail with a reason, or no thumbnail without one");
    if (!image.isNull() && (image.width() > kSize || image.height() > kSize))
        qFatal("a thumbnail larger than asked for");
    return 0;
}
