#pragma once

#include <QString>

class ByteSource;

// Reads the box structure of a JPEG XL file without decoding the image.
namespace JXLContainer {

enum class Kind { unreadable, bareCodestream, container, notJXL };

struct Info
{
    Kind kind = Kind::unreadable;
    // A `jbrd` box: the file carries what djxl needs to rebuild the original JPEG bytes.
    bool hasJpegReconstruction = false;
};

Info inspect(const QString &path);

// The same for bytes in memory or an open file; never unreadable.
Info inspect(const ByteSource &source);

} // namespace JXLContainer
