#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

// What a file is by its first bytes, whatever its name says.
namespace FileSignature {

enum class Format { jpeg, png, gif, webp, tiff, heif, avif, jxl, bmp, empty, unknown };

// How many bytes at the start of a file identify() needs at most.
inline constexpr qsizetype headLength = 16;

// The format the leading bytes of a file announce.
Format identify(QByteArrayView head);

// Why a file of this format is not converted as a JPEG, in the user's language; nothing for a JPEG.
std::optional<QString> notJpegReason(Format format);

} // namespace FileSignature
