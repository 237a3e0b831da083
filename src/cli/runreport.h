#pragma once

#include "model/taskitem.h"

#include <QByteArray>
#include <QString>

// What a conversion run says about its jobs and itself: one line or one JSON object per job, and
// the closing summary.
namespace RunReport {

// The jobs of a run by how they ended, counted as they are reported.
struct Tally
{
    qsizetype done = 0; // completed, failed or skipped
    qsizetype failed = 0;
    qsizetype skipped = 0;
    qsizetype notSmaller = 0; // of the skipped: left as JPEG
    qsizetype kept = 0;       // originals that could not be trashed or deleted as asked
    qsizetype refused = 0;    // never run: their sources cannot be converted
    qint64 saved = 0;
    qint64 originalBytes = 0; // of the completed jobs

    void add(const TaskItem &task);
};

// One compact JSON object, for scripts reading --json.
QByteArray jobJson(const TaskItem &task);
// One line (two with a warning) for a person.
QString jobLine(const TaskItem &task);
// Minutes and seconds, as "m:ss".
QString elapsedText(qint64 ms);
// The closing line: counts, and for compression what was saved.
QString summaryLine(const Tally &tally, ConversionMode mode, qint64 elapsedMs);

} // namespace RunReport
