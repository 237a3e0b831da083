#pragma once

#include "filescanner.h"
#include "jxlerror.h"
#include "model/taskitem.h"

#include <QString>

#include <atomic>
#include <memory>
#include <optional>

// File steps of a job that must never lose data: a hidden temporary output beside the final
// one, flushed to disk and moved into place without replacing anything, checked again before
// the source goes. All functions block and are meant for a worker thread.
namespace OutputFiles {

// "photo.JPG" -> "photo.jxl", "archive.tar.jpeg" -> "archive.tar.jxl", "noext" -> "noext.jxl".
QString withExtension(const QString &path, const QString &extension);

// Where a photo's output goes. Without an output folder, beside the source with the new
// extension; with one, outputFolder / the import root's name / the path below the root / stem
// and new extension. A source outside its root (or without one) counts as its own folder's.
QString outputPath(const QString &source, const QString &importRoot, const QString &outputFolder,
                   const QString &extension);

// Makes folder with every folder on the way that is missing. Below outputFolder (when given),
// each takes the permission bits of its counterpart below sourceBase (the folder holding the
// import root), with the owner's rwx added so the outputs can be written. The failure names the
// folder that could not be made and why.
std::optional<JXLError> makeOutputFolders(const QString &folder, const QString &outputFolder = QString(),
                                          const QString &sourceBase = QString());

// Claims an output that a former run left for source, as place() claims what it places: one
// output never stands for two sources. False when another source of this process holds it.
bool claimExisting(const QString &path, const QString &sourcePath);

// "folder/stem (n).ext" for the n-th alternative of a taken output name.
QString alternativeName(const QString &path, int n);

// A hidden, unique name in the folder of finalPath that keeps its extension (djxl picks its
// output format from it), that no import picks up, and that names this process as its owner.
QString temporarySibling(const QString &finalPath);

// Whether a file name is one of our temporaries; ownerTag receives the owner it names (empty
// for names that carry none).
bool isTemporaryName(const QString &fileName, QString *ownerTag = nullptr);

// Removes the temporaries in folder whose owner has died (a crash, a kill). Those of a live
// process, of other users, and of owners that cannot be checked from here (another machine
// on a shared folder) are left, the latter until they are a day old. Returns how many went.
int removeDeadLeftovers(const QString &folder);
// The same, done once per folder for the life of the process.
void removeDeadLeftoversOnce(const QString &folder);
// The same, when an import or a run begins, before any job: in each folder named (a file named
// stands for its own folder) and in each folder that found files lie in, so that a killed run's
// temporaries go even where no job of this run writes. Blocks on the disk.
void removeDeadLeftoversAround(const QList<QUrl> &named, const ScanResult &found = {});

// Makes the empty temporary exclusively, with the source's permission bits (and the owner's
// read and write, which the tool needs) before it holds a byte.
std::optional<JXLError> createTemporary(const QString &temporaryPath, const QString &sourcePath);

// Stores the source's digest with the output (when given and the file system has extended
// attributes), gives it the source's permission bits and modification time, and flushes it.
// With digest set, the output's own SHA-256 is computed too.
std::optional<JXLError> finishTemporary(const QString &temporaryPath, const QString &sourcePath,
                                        const std::optional<QString> &sourceDigest = std::nullopt,
                                        QString *digest = nullptr);

// Whether two paths are regular files (not links) holding the same bytes.
bool sameContent(const QString &a, const QString &b);

struct Placement
{
    QString path; // where the output now is
    qint64 size = 0;
    bool reusedExisting = false; // an identical file was already there; the temporary was dropped
};

// Moves the temporary output to wantedPath, or to the first free "stem (n).ext". An existing
// file is never replaced; it is taken as the output only when it is a regular file with the
// same bytes that no job of this process for another source has taken. Checks cancelled right
// before the move: once the output is in place the job is past the point of return. On
// failure or cancel the temporary is removed.
struct PlacementResult
{
    std::optional<Placement> placement;
    std::optional<JXLError> error;
    bool cancelled = false;
};
PlacementResult place(const QString &temporaryPath, const QString &wantedPath, const QString &sourcePath,
                      const std::shared_ptr<std::atomic_bool> &cancelled);

// Checks, right before the source goes, that the placed output is still a regular file of the
// size and digest it was placed with (another program may have replaced it), and makes its
// name durable: the source must never go while the output's name could still be lost. An
// output this job did not write itself (taken over from a former run or a copy) is flushed
// first as well: it may still be in the page cache only.
std::optional<JXLError> recheckPlaced(const QString &path, qint64 size, const QString &digest, bool flushFile);

} // namespace OutputFiles
