#include "bytesource.h"

#include <QIODevice>

ByteSource::ByteSource(QByteArrayView bytes) : m_bytes(bytes), m_size(bytes.size()) {}

ByteSource::ByteSource(QIODevice *device) : m_device(device), m_size(device->size()) {}

QByteArray ByteSource::read(qint64 offset, qint64 length) const
{
    if (offset < 0 || length <= 0 || offset >= m_size)
        return {};
    length = qMin(length, m_size - offset);
    if (!m_device)
        return QByteArray::fromRawData(m_bytes.data() + offset, qsizetype(length));
    if (!m_device->seek(offset))
        return {};
    return m_device->read(length);
}
