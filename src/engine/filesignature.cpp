#include "filesignature.h"

#include "jxlsignature.h"

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
    if (JxlSignature::identify(head) != JxlSignature::Kind::none)
        return Format::jxl;
    if (startsWith(head, "BM") && head.size() >= 14)
        return Format::bmp;
    if (const std::optional<Format> iso = isoMediaFormat(head))
        return *iso;
    return Format::unknown;
}

std::optional<QString> notJpegReason(Format format)
{
    switch (format) {
    case Format::jpeg:
        return std::nullopt;
    case Format::empty:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像（文件是空的）");
    case Format::unknown:
        break;
    // One whole sentence per format: other languages inflect around the name ("an AVIF image").
    case Format::png:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 PNG 图像（扩展名与内容不符）");
    case Format::gif:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 GIF 图像（扩展名与内容不符）");
    case Format::webp:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 WebP 图像（扩展名与内容不符）");
    case Format::tiff:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 TIFF 图像（扩展名与内容不符）");
    case Format::heif:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 HEIF 图像（扩展名与内容不符）");
    case Format::avif:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 AVIF 图像（扩展名与内容不符）");
    case Format::jxl:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 JPEG XL 图像（扩展名与内容不符）");
    case Format::bmp:
        return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像，而是 BMP 图像（扩展名与内容不符）");
    }
    return QCoreApplication::translate("FileSignature", "此文件不是 JPEG 图像（无法识别其内容）");
}

} // namespace FileSignature
