#pragma once

#include <QImage>
#include <QString>

// One JPEG XL file made into a thumbnail for a file manager: pikora-thumbnailer's work, apart from
// its command line so each step can say why it gave up.
namespace JxlThumbnail {

// The local file an INPUT argument names: a path as it is, or a file:// URI (on this host)
// decoded; empty for any other URI.
QString inputPath(const QString &argument);

// Caps on this process, set before anything is read: no core dumps, bounded address space and
// CPU time, so a hostile file can neither exhaust the machine nor keep the file manager waiting.
void limitResources();
// Lifts the CPU cap again once decoding is over, so writing the result is never cut short.
void liftCpuLimit();

// The photo scaled to fit within size × size (never enlarged), upright. A null image when the
// file is not a JPEG XL file, is larger than the decoder agrees to hold, or cannot be decoded;
// reason then says which. The header is checked before the file is read whole.
QImage make(const QString &path, int size, QString *reason);

// Writes image as a PNG at output. A file already there is the caller's (the thumbnailer
// convention: the caller owns the path) and is written in place, since the caller may read it
// through a descriptor it holds; a write that fails leaves it empty. A missing one appears whole
// or not at all (a temporary beside it, renamed into place).
bool writePng(const QImage &image, const QString &output, QString *reason);

} // namespace JxlThumbnail
