#pragma once

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

// Where a job stands. Declaration order is the stored order; tables sort by sortRank().
enum class TaskStatus { pending, processing, verifying, completed, failed, skipped };

// Direction of a conversion; it selects the list, the tool and the texts.
enum class ConversionMode { jpegToJXL, jxlToJPEG };

// Why a job was skipped: a former run had made its output, or a JXL would not be smaller than
// its JPEG (none is kept then, and the JPEG stays whatever was asked).
enum class SkipReason { convertedBefore, notSmaller };

// What becomes of a source file once its conversion succeeded.
enum class DeleteStrategy { keepOriginal, moveToTrash, deleteImmediately };

QString rawValue(TaskStatus status);
QString rawValue(ConversionMode mode);
QString rawValue(DeleteStrategy strategy);

std::optional<TaskStatus> taskStatusFromRawValue(const QString &text);
std::optional<ConversionMode> conversionModeFromRawValue(const QString &text);
std::optional<DeleteStrategy> deleteStrategyFromRawValue(const QString &text);

// Running jobs sort first, then verifying, failed, waiting, finished, skipped.
int sortRank(TaskStatus status);
// Replace the built-in enum comparisons: statuses order by rank, not by declaration.
// All four are needed; an operator left out would silently compare declaration order.
bool operator<(TaskStatus a, TaskStatus b);
bool operator>(TaskStatus a, TaskStatus b);
bool operator<=(TaskStatus a, TaskStatus b);
bool operator>=(TaskStatus a, TaskStatus b);

QList<DeleteStrategy> allDeleteStrategies();
QString title(DeleteStrategy strategy);
QString description(DeleteStrategy strategy);

// One file's job. A plain value: copied, compared field by field, replaced whole by id.
struct TaskItem
{
    static constexpr qint64 kUnknownSize = -1;

    QUuid id = QUuid::createUuid();
    QUrl sourceURL;
    std::optional<QUrl> destinationURL;
    ConversionMode mode = ConversionMode::jpegToJXL;
    TaskStatus status = TaskStatus::pending;
    // kUnknownSize when the file system would not tell (an empty file is 0).
    qint64 originalSize = 0;
    std::optional<qint64> compressedSize;
    std::optional<QString> errorMessage;
    // Something that went wrong after the conversion succeeded (the original could not be
    // trashed or deleted as asked): the job stays completed, the user still has to know.
    std::optional<QString> warning;
    std::optional<double> duration;
    bool isVerified = false;
    // The folder the photo was imported under (the folder dropped or named; for a photo given
    // by itself, its own folder). An output folder mirrors the tree below it.
    QString importRoot;
    // Completed by taking an output a former run had made (proven again) instead of a new one.
    bool reused = false;
    // Set with status skipped.
    std::optional<SkipReason> skipReason;

    QString fileName() const;
    // The file a user opens, reveals or previews: the output once the job completed, else the
    // source (a failed job's destination may name somebody else's file).
    QUrl shownURL() const;
    // False for a job standing in for a photo whose name no path can carry: its source is not
    // a local file, so nothing can open it, and it is never run, retried or previewed.
    bool isRunnable() const;
    // Failed without ever running: its name cannot be carried by a path, so no retry can mend it.
    bool isRefused() const;
    // Pending or failed: a batch started now would run it (when it is runnable).
    bool isWaiting() const;
    bool isSizeKnown() const { return originalSize >= 0; }
    // The source's path as shown to the user (also for a job that is not runnable).
    QString sourcePathText() const;
    qint64 compressedSizeOrZero() const;
    qint64 savedBytes() const;
    double savingsRatio() const;

    bool operator==(const TaskItem &other) const = default;
};

// Every member is a plain value or one of Qt's shared handles (an optional of one included), so
// a job can move in memory byte for byte: a list of 100,000 grows without copying each job.
Q_DECLARE_TYPEINFO(TaskItem, Q_RELOCATABLE_TYPE);
