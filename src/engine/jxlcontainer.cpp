#include "jxlcontainer.h"

#include "boxwalker.h"
#include "bytesource.h"
#include "jxlsignature.h"

#include <QFile>
#include <QFileInfo>

namespace JXLContainer {

Info inspect(const QString &path)
{
    // Opening a pipe for reading would wait for a writer; a folder has no boxes.
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return inspect(ByteSource(&file));
}

Info inspect(const ByteSource &source)
{
    Info info;
    switch (JxlSignature::identify(source.read(0, JxlSignature::headLength))) {
    case JxlSignature::Kind::codestream:
        info.kind = Kind::bareCodestream;
        return info;
    case JxlSignature::Kind::none:
        info.kind = Kind::notJXL;
        return info;
    case JxlSignature::Kind::container:
        info.kind = Kind::container;
        break;
    }
    BoxWalker::walk(source, JxlSignature::container.size(), [&info](const BoxWalker::Box &box) {
        info.hasJpegReconstruction = box.type == "jbrd";
        return !info.hasJpegReconstruction;
    });
    return info;
}

} // namespace JXLContainer
