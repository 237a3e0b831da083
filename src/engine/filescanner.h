#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

// The JPEG and JPEG XL files found in one import, with their byte totals.
struct ScanResult
{
    QUrl folderURL;
    QList<QUrl> jpegFiles;
    QList<QUrl> jxlFiles;
    qint64 totalJPEGBytes = 0;
    qint64 totalJXLBytes = 0;

    // Lossless recompression saves about a quarter of the JPEG bytes; truncated toward zero.
    qint64 estimatedSavedBytes() const;
};

// Expands dropped files and folders into the photos they hold. Stateless and thread-safe:
// callers run scan() through QtConcurrent, never on the GUI thread.
namespace FileScanner {

const QStringList &jpegExtensions();
const QStringList &jxlExtensions();

// Folders are walked to any depth, skipping hidden items, packages and symbolic links to
// folders. Files keep the given order (inside a folder, the walk order); nothing is
// de-duplicated. A file whose size cannot be read is listed with 0 bytes.
ScanResult scan(const QList<QUrl> &urls);

} // namespace FileScanner
