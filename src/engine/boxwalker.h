#pragma once

#include <QByteArray>

#include <functional>

class ByteSource;

// The boxes of an ISO-style container, as JPEG XL files have them, walked without trusting the
// sizes they declare: a walk never loops, never steps backwards and never leaves the source.
namespace BoxWalker {

struct Box
{
    QByteArray type;          // the four bytes of its type ("jxlc", "jbrd")
    qint64 payloadOffset = 0; // first byte after the box header
    qint64 end = 0;           // one past its last byte, or the end of the source where it is cut short
    bool complete = true;     // false when its size runs past the end of the source: the walk ends there
};

// Calls visit for each box from offset start on, until visit returns false, a box runs past the
// end of the source, or a box header does not parse. A size of 0 means "to the end of the source".
void walk(const ByteSource &source, qint64 start, const std::function<bool(const Box &)> &visit);

} // namespace BoxWalker
