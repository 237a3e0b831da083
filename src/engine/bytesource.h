#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QIODevice;

// Bytes read by position, from memory or from an open file: what the format readers walk, so
// one walk serves a file's head in memory and a whole file on disk alike.
class ByteSource
{
public:
    // Bytes in memory, which must outlive the source; reads share them rather than copy.
    explicit ByteSource(QByteArrayView bytes);
    // A random-access device open for reading (a file), read by seeking; its size is taken now.
    explicit ByteSource(QIODevice *device);

    qint64 size() const { return m_size; }

    // Up to length bytes from offset, fewer where the source ends; empty when the device cannot
    // be read there. From memory the result points into the bytes given.
    QByteArray read(qint64 offset, qint64 length) const;

private:
    QByteArrayView m_bytes;
    QIODevice *m_device = nullptr;
    qint64 m_size = 0;
};
