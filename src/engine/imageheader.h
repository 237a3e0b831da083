#pragma once

// What the headers at the start of a photo file say, read without decoding the image. Each format
// has its own reader; this brings them together for callers that take either kind of photo.
#include "jpegexif.h"
#include "jpegheader.h"
#include "jxlheader.h"

#include <QString>

// Width times height of a JPEG or JPEG XL file, reading only the headers at the start of the file.
std::optional<qint64> imagePixelCount(const QString &path);
