#pragma once

#include <QtGlobal>

#include <functional>

class ByteSource;

// The marker segments of a JPEG from the one after SOI up to the first start of scan, walked
// without trusting the lengths they declare.
namespace JpegSegments {

struct Segment
{
    quint8 marker = 0;    // the marker's second byte: 0xC0 for SOF0, 0xDA for SOS
    qint64 offset = 0;    // first byte of the body, after the marker and its length field
    qint64 length = 0;    // of the body as declared; it may run past the end of the source
};

// A start-of-frame marker, SOF0 to SOF15 (0xC4 DHT, 0xC8 JPG and 0xCC DAC are not frames).
bool isFrameMarker(quint8 marker);

// Markers that stand alone, without a length: TEM, RSTn, SOI.
bool isStandalone(quint8 marker);

// Calls visit for each segment after the SOI at the first byte, up to and including the first SOS,
// until visit returns false. Ends at EOI, where no marker stands where one must, and at a length
// that does not parse. Fill bytes between segments are skipped.
void walk(const ByteSource &source, const std::function<bool(const Segment &)> &visit);

} // namespace JpegSegments
