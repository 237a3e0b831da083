#include "filesignature.h"

#include <QCoreApplication>

namespace FileSignature {

namespace {

bool startsWith(QByteArrayView head, QByteArrayView prefix)
{
    return head.size() >= prefix.size() && head.first(prefix.size()) == prefix;
}

// ISO base media files (HEIF, AVIF) open with an `ftyp` box whose major brand names the kind.
std::optional<Format> isoMediaFormat(QByteArrayView head)
{
    if (head.size() < 12 || head.sliced(4, 4) != QByteArrayView("ftyp"))
        return std::nullopt;
    const QByteArrayView brand = head.sliced(8, 4);
    if (brand == QByteArrayView("avif") || brand == QByteArrayView("avis"))
        return Format::avif;
    for (const char *heif : {"heic", "heix", "hevc", "hevx", "heim", "heis", "mif1", "msf1"}) {
        if (brand == QByteArrayView(heif))
            return Format::heif;
    }
    return std::nullopt; // an MP4 or QuickTime movie: not an image format we name
}

} // namespace

Format identify(QByteArrayView head)
{
    if (head.isEmpty())
        return Format::empty;
    if (startsWith(head, "\xFF\xD8\xFF"))
        return Format::jpeg;
    if (startsWith(head, "\x89PNG\r\n\x1A\n"))
        return Format::png;
    if (startsWith(head, "GIF87a") || startsWith(head, "GIF89a"))
        return Format::gif;
    if (head.size() >= 12 && startsWith(head, "RIFF") && head.sliced(8, 4) == QByteArrayView("WEBP"))
        return Format::webp;
    if (startsWith(head, QByteArrayView("II*\0", 4)) || startsWith(head, QByteArrayView("MM\0*", 4)))
        return Format::tiff;
    if (startsWith(head, "\xFF\x0A") || startsWith(head, QByteArrayView("\x00\x00\x00\x0CJXL \x0D\x0A\x87\x0A", 12)))
        return Format::jxl;
    if (startsWith(head, "BM") && head.size() >= 14)
        return Format::bmp;
    if (const std::optional<Format> iso = isoMediaFormat(head))
        return *iso;
    return Format::unknown;
}

QString formatName(Format format)
{
    switch (format) {
    case Format::png:
        return QStringLiteral("PNG");
    case Format::gif:
        return QStringLiteral("GIF");
    case Format::webp:
        return QStringLiteral("WebP");
    case Format::tiff:
        return QStringLiteral("TIFF");
    case Format::heif:
        return QStringLiteral("HEIF");
    case Format::avif:
        return QStringLiteral("AVIF");
    case Format::jxl:
        return QStringLiteral("JPEG XL");
    case Format::bmp:
        return QStringLiteral("BMP");
    case Format::jpeg:
    case Format::empty:
    case Format::unknown:
        break;
    }
    return {};
}

std::optional<QString> notJpegReason(Format format)
{
    switch (format) {
    case Format::jpeg:
        return std::nullopt;
    case Format::empty:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像（文件是空的）");
    case Format::unknown:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像（无法识别其内容）");
    default:
        break;
    }
    return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 %1 图像（扩展名与内容不符）")
        .arg(formatName(format));
}

} // namespace FileSignature
