#pragma once

#include <QString>

// The one display form of a byte count: decimal units as file managers show them
// ("0 KB", "512 字节", "12 KB", "3.4 MB", "1.25 GB"), with the default locale's digits and
// decimal mark and the unit word of the shown language ("512 bytes").
QString formattedBytes(qint64 bytes);
