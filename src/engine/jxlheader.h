#pragma once

#include <QByteArrayView>
#include <QSize>

#include <optional>

class ByteSource;

// The image size from a JPEG XL size header, in a bare codestream (FF 0A) or in the first `jxlc` or
// `jxlp` box of a container. The bytes may be only the head of a file.
std::optional<QSize> parseJxlSize(QByteArrayView bytes);

// The same, read from a source: only the box headers and the head of the codestream are read.
std::optional<QSize> readJxlSize(const ByteSource &source);
