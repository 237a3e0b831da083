#pragma once

#include <QByteArrayView>

#include <optional>

// What a JPEG's Exif segment (the first APP1 starting "Exif\0\0") tells about showing the photo.
struct JpegExif
{
    int orientation = 1;      // the main picture's Orientation, 1 to 8; 1 when missing or out of range
    QByteArrayView thumbnail; // the embedded JPEG thumbnail, inside the bytes given; empty when none
};

// Walks the markers from the SOI at the first byte up to the first SOS; the bytes may be only the
// head of the file. Nothing when there is no Exif segment with a readable TIFF header and first
// directory before the data ends.
std::optional<JpegExif> parseJpegExif(QByteArrayView bytes);
