#pragma once

#include <QString>

// The one display form of a byte count: decimal units as file managers show them
// ("0 KB", "512 字节", "12 KB", "3.4 MB", "1.25 GB").
QString formattedBytes(qint64 bytes);
