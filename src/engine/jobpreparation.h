#pragma once

#include "jxlerror.h"

#include <QList>
#include <QString>

#include <optional>

// What a job finds out and makes before its first tool, on a worker thread: the output's
// folders, whether the source can be converted at all, the outputs a former run may have left,
// and the empty temporary the tool writes to.
namespace JobPreparation {

// A regular file a former run may have left at the wanted name or at one of its numbered
// siblings ("stem (1).jxl", ...): its size, own digest and (for a JXL) the source digest stored
// with it.
struct Existing
{
    QString path;
    qint64 size = 0;
    QString digest; // empty where nothing compares it: a compression that keeps its source
    std::optional<QString> storedDigest;
};

struct Request
{
    QString source;
    QString temporary;
    QString wanted;
    bool restoring = false;
    // A former output's own digest is what a restore compares, and what the recheck before a
    // source goes compares; a compression that keeps its source needs only the stored one.
    bool hashExisting = false;
    QString outputFolder; // empty: the output goes beside its source
    QString sourceBase;   // the folder holding the import root
};

struct Result
{
    std::optional<JXLError> error;
    bool reconstructable = true;
    bool sourceUnreadable = false;
    std::optional<QString> storedDigest; // restore: what the JXL says its JPEG was
    // The wanted name first, then its numbered siblings up to the first free number. A sibling
    // of a compression is listed only with a stored digest: only that can say whose it is
    // without decoding it.
    QList<Existing> existing;
};

// Blocking.
Result prepare(const Request &request);

} // namespace JobPreparation
