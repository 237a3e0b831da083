#pragma once

#include <QByteArrayView>
#include <QString>

// Why cjxl would refuse a JPEG, read from its markers and scan structure without decoding.
// cjxl's own messages ("Getting pixel data", "JxlEncoderAddJPEGFrame() failed") do not say.
namespace JpegDiagnosis {

enum class Problem {
    none,
    notJpeg,           // no JPEG start marker at all
    leadingData,       // bytes before the start marker
    damagedHeader,     // the markers before the image data do not parse
    arithmetic,        // arithmetic entropy coding
    lossless,          // lossless process (SOF3 and friends)
    hierarchical,      // differential frames
    precision,         // not 8 bits per sample (12-bit JPEG)
    cmyk,
    ycck,
    componentCount,    // neither 1 nor 3 colour components (and not CMYK)
    subsampling,       // chroma sampling factors other than 1 or 2 times
    repeatedRestartInterval, // a DRI marker defined a second time
    truncatedScan,     // a scan holds fewer restart intervals than the frame needs
    missingEnd,        // the data ends before the EOI marker
};

// The first problem found, in the order of the enumeration. `bytes` is the whole file.
Problem findProblem(QByteArrayView bytes);

// One sentence in the user's language naming the problem and what to do, ending in a full stop;
// empty for Problem::none. Reads the header again for the numbers it quotes.
QString describe(Problem problem, QByteArrayView bytes);

// describe(findProblem(bytes), bytes).
QString refusalReason(QByteArrayView bytes);

} // namespace JpegDiagnosis
