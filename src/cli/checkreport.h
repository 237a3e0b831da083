#pragma once

#include "engine/archivecheck.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

struct TaskItem;

// What a check run says about its files and itself: one line or one JSON object per file, and
// the closing summary.
namespace CheckReport {

using Verdict = ArchiveCheck::Verdict;

// One file's check as it is reported.
struct Entry
{
    QString path;
    Verdict verdict = Verdict::failed;
    QString message;
    std::optional<QDateTime> lastChecked;

    static Entry of(const ArchiveCheck &check);
    // A photo that never ran: one whose name cannot be used.
    static Entry ofRefused(const TaskItem &task);
};

// The files of a run by verdict, counted as they are reported.
struct Tally
{
    qsizetype done = 0;
    qsizetype byVerdict[int(Verdict::cancelled) + 1] = {};

    void add(const Entry &entry);
    qsizetype count(Verdict verdict) const { return byVerdict[int(verdict)]; }
    // Files that fail the run: damaged or not checked, and with strict also those nothing proves good.
    qsizetype problems(bool strict) const;
};

bool isProblem(Verdict verdict, bool strict);

// One compact JSON object, for scripts reading --json.
QByteArray json(const Entry &entry);
// One line for a person.
QString line(const Entry &entry);
// The closing line: the counts and the time taken.
QString summaryLine(const Tally &tally, qint64 elapsedMs);

} // namespace CheckReport
