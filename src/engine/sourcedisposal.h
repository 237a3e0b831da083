#pragma once

#include "fileidentity.h"
#include "model/taskitem.h"

#include <QString>

#include <optional>

// Disposes of a job's source only while it is still the file whose bytes were proven, in one
// step with the check: the file is first taken out of the way (to a private name in its folder,
// or into the trash), what was taken is checked, and only then deleted; a file that turns out
// to have changed goes back, never over a newer file at its name. All functions block and are
// meant for a worker thread.
namespace SourceDisposal {

// The bytes a job proved its output against, and what the file was when they were read.
struct Proof
{
    QString digest;
    FileIdentity identity;
};

struct Result
{
    // The source is no longer the proven file (edited, replaced, gone from its name); it stays.
    bool changed = false;
    // Where a changed source stands now when that is not its own name: the name had been
    // taken meanwhile, or it could not be moved back.
    QString movedTo;
    // Why a proven source was not trashed or deleted as asked, for the user: it could not be,
    // it is a link, or it has gone from its name.
    std::optional<QString> warning;
};

// Keeps (checks only), trashes or deletes source.
Result dispose(const QString &source, DeleteStrategy strategy, const Proof &proof);

// Whether source (or the file its link names) is still the proven file: the same inode and
// size, and where a time moved, the same bytes.
bool isUnchanged(const QString &source, const Proof &proof);

// The failure of a job whose source changed while it ran.
QString changedText(const Result &result);

// Puts back the sources that a process which has died held under a private name in folder
// (it stopped between taking one out of the way and deleting it). Once per folder for the life
// of the process.
void recoverHeldOnce(const QString &folder);

} // namespace SourceDisposal
