#include "extendedattributes.h"

#include <QFile>

#include <cerrno>
#include <sys/xattr.h>

namespace ExtendedAttributes {

std::optional<QByteArray> read(const QString &path, const char *name)
{
    const QByteArray encoded = QFile::encodeName(path);
    // Values we write are small; a larger one is not ours.
    QByteArray value(256, Qt::Uninitialized);
    const ssize_t size = ::getxattr(encoded.constData(), name, value.data(), size_t(value.size()));
    if (size < 0)
        return std::nullopt;
    value.truncate(size);
    return value;
}

int write(int fd, const char *name, const QByteArray &value)
{
    if (::fsetxattr(fd, name, value.constData(), size_t(value.size()), 0) == 0)
        return 0;
    return errno;
}

} // namespace ExtendedAttributes
