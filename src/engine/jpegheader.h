#pragma once

#include <QByteArrayView>
#include <QList>

#include <optional>

class ByteSource;

// What the markers of a JPEG say about its frame, read without decoding the image.
struct JpegComponent
{
    int id = 0;
    int horizontalSampling = 0;
    int verticalSampling = 0;

    bool operator==(const JpegComponent &other) const = default;
};

struct JpegHeader
{
    int frameMarker = 0;        // the SOFn marker's second byte, 0xC0 to 0xCF
    bool arithmetic = false;    // SOF9 to SOF15
    bool progressive = false;   // SOF2, SOF6, SOF10, SOF14
    bool lossless = false;      // SOF3, SOF7, SOF11, SOF15
    bool hierarchical = false;  // differential frames, SOF5 to SOF7 and SOF13 to SOF15
    int precision = 0;          // bits per sample
    int width = 0;
    int height = 0;             // 0 when a DNL marker after the first scan defines it
    int components = 0;
    QList<JpegComponent> componentInfo;
    // The Adobe APP14 colour transform: 0 none (RGB or CMYK), 1 YCbCr, 2 YCCK.
    std::optional<int> adobeTransform;
    bool reachedScan = false;   // a start of scan followed the frame header
    bool endsWithEoi = false;   // the bytes given end with the EOI marker (meaningful for a whole file)
};

// Walks the markers from the SOI at the first byte up to the first SOS. Nothing when the bytes do
// not start with SOI or no frame header comes before the data ends.
std::optional<JpegHeader> parseJpegHeader(QByteArrayView bytes);

// The first frame header of a JPEG that starts with SOI, read from a source up to that header and
// no further: the scan facts and an Adobe segment after the frame are not read.
std::optional<JpegHeader> readJpegFrame(const ByteSource &source);
