#pragma once

#include "jxlerror.h"
#include "model/taskitem.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// File steps of a job that must never lose data: a hidden temporary output beside the final
// one, flushed to disk and moved into place without replacing anything. All functions block
// and are meant for a worker thread.
namespace OutputFiles {

// "photo.JPG" -> "photo.jxl", "archive.tar.jpeg" -> "archive.tar.jxl", "noext" -> "noext.jxl".
QString withExtension(const QString &path, const QString &extension);

// "folder/stem (n).ext" for the n-th alternative of a taken output name.
QString alternativeName(const QString &path, int n);

// A hidden, unique name in the folder of finalPath that keeps its extension (djxl picks its
// output format from it) and that no import would pick up.
QString temporarySibling(const QString &finalPath);

// Gives the output the source's permission bits and modification time, then flushes it to disk.
std::optional<JXLError> finishTemporary(const QString &temporaryPath, const QString &sourcePath);

// Whether two files hold the same bytes.
bool sameContent(const QString &a, const QString &b);

struct Placement
{
    QString path;         // where the output now is
    qint64 size = 0;
    bool reusedExisting = false; // an identical file was already there; the temporary was dropped
};

// Moves the temporary output to wantedPath, or to the first free "stem (n).ext" when that name
// holds other bytes. An existing file is never replaced. Checks cancelled right before the move:
// once the output is in place the job is past the point of return. On failure or cancel the
// temporary is removed.
struct PlacementResult
{
    std::optional<Placement> placement;
    std::optional<JXLError> error;
    bool cancelled = false;
};
PlacementResult place(const QString &temporaryPath, const QString &wantedPath,
                      const std::shared_ptr<std::atomic_bool> &cancelled);

// Keeps, trashes or deletes the source. Returns the reason when that failed (which callers ignore).
std::optional<QString> disposeSource(const QString &sourcePath, DeleteStrategy strategy);

} // namespace OutputFiles
