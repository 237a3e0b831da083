#pragma once

#include <QByteArrayView>

// The two ways a JPEG XL file begins: a bare codestream, or the signature box of a container.
namespace JxlSignature {

inline constexpr QByteArrayView codestream("\xFF\x0A", 2);
inline constexpr QByteArrayView container("\x00\x00\x00\x0C" "JXL " "\x0D\x0A\x87\x0A", 12);

// How many leading bytes of a file identify() needs at most.
inline constexpr qsizetype headLength = 12;

enum class Kind { none, codestream, container };

// Which of the two the leading bytes of a file announce.
Kind identify(QByteArrayView head);

} // namespace JxlSignature
