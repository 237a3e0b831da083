#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Reading photos into small upright pictures, shared by the window and pikora-thumbnailer. JPEG XL
// files are read with libjxl in this process: the original JPEG rebuilt in memory and decoded
// scaled when the file carries reconstruction data, else the pixels decoded. Thread-safe; touches
// no widget and needs no display.
namespace PhotoDecoder {

// How a JPEG XL file was read.
enum class JxlPath { none, reconstructedJpeg, pixels };

// Whether the bytes start like a JPEG XL file (bare codestream or container).
bool isJxl(QByteArrayView head);

// Largest picture, in pixels, that is decoded at all, as Qt's own image readers allow.
qint64 pixelLimit();

// The photo scaled to fit within maxEdge (never enlarged), upright; null when it cannot be read.
QImage decode(const QString &path, int maxEdge, JxlPath *jxlPath = nullptr);
QImage decodeJxl(const QByteArray &bytes, int maxEdge, JxlPath *jxlPath = nullptr);

} // namespace PhotoDecoder
