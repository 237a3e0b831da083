// What a file is by its first bytes: nothing past the head callers read may change the answer.
#include "engine/filesignature.h"
#include "engine/jxlsignature.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const FileSignature::Format format = FileSignature::identify(bytes);
    if (format != FileSignature::identify(bytes.first(qMin(bytes.size(), FileSignature::headLength))))
        qFatal("identify() reads past the head it promises to need");
    if (FileSignature::notJpegReason(format).has_value() == (format == FileSignature::Format::jpeg))
        qFatal("a JPEG refused, or another format taken as JPEG");

    const JxlSignature::Kind kind = JxlSignature::identify(bytes);
    if (kind != JxlSignature::identify(bytes.first(qMin(bytes.size(), JxlSignature::headLength)))
        || (kind != JxlSignature::Kind::none) != (format == FileSignature::Format::jxl))
        qFatal("the JPEG XL signature read differently");
    return 0;
}
