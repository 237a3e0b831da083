// JPEG XL boxes and the codestream's size header, walked over memory and over a device by
// seeking: both walks must see the same boxes and read the same size.
#include "engine/boxwalker.h"
#include "engine/bytesource.h"
#include "engine/jxlcontainer.h"
#include "engine/jxlheader.h"
#include "engine/jxlsignature.h"

#include <QBuffer>

namespace {

QList<BoxWalker::Box> boxes(const ByteSource &source)
{
    QList<BoxWalker::Box> found;
    qint64 previousEnd = JxlSignature::container.size();
    BoxWalker::walk(source, JxlSignature::container.size(), [&](const BoxWalker::Box &box) {
        if (box.payloadOffset <= previousEnd || box.end < box.payloadOffset || box.end > source.size()
            || box.type.size() != 4)
            qFatal("a box outside the source, before the one it follows, or with a type not four bytes long");
        previousEnd = box.end;
        found.append(box);
        return true;
    });
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray copy = bytes;
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    const ByteSource memory(bytes);
    const ByteSource seeking(&device);

    const std::optional<QSize> imageSize = parseJxlSize(bytes);
    if (imageSize != readJxlSize(seeking) || (imageSize && imageSize->isEmpty()))
        qFatal("the size read by seeking differs from the one read from memory, or is empty");

    const JXLContainer::Info info = JXLContainer::inspect(memory);
    const JXLContainer::Info seen = JXLContainer::inspect(seeking);
    if (info.kind != seen.kind || info.hasJpegReconstruction != seen.hasJpegReconstruction)
        qFatal("the container read by seeking differs from the one read from memory");

    const QList<BoxWalker::Box> inMemory = boxes(memory);
    const QList<BoxWalker::Box> bySeeking = boxes(seeking);
    if (inMemory.size() != bySeeking.size())
        qFatal("the walks met different numbers of boxes");
    for (qsizetype i = 0; i < inMemory.size(); ++i) {
        const BoxWalker::Box &a = inMemory.at(i);
        const BoxWalker::Box &b = bySeeking.at(i);
        if (a.type != b.type || a.payloadOffset != b.payloadOffset || a.end != b.end || a.complete != b.complete)
            qFatal("the walks met different boxes");
    }
    return 0;
}
