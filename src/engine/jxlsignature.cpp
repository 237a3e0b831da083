#include "jxlsignature.h"

namespace JxlSignature {

Kind identify(QByteArrayView head)
{
    if (head.startsWith(codestream))
        return Kind::codestream;
    if (head.startsWith(container))
        return Kind::container;
    return Kind::none;
}

} // namespace JxlSignature
