#include "sampletasks.h"

#include "engine/filescanner.h"

#include <QFileInfo>

TaskItem SampleTasks::make(const QString &path, TaskStatus status, ConversionMode mode)
{
    TaskItem task;
    task.sourceURL = QUrl::fromLocalFile(path);
    task.mode = mode;
    task.status = status;
    task.originalSize = 2'000'000;
    if (status == TaskStatus::completed || status == TaskStatus::failed || status == TaskStatus::skipped) {
        const QFileInfo source(path);
        const QString suffix = mode == ConversionMode::jpegToJXL ? QStringLiteral(".jxl") : QStringLiteral(".jpg");
        task.destinationURL = QUrl::fromLocalFile(source.path() + QLatin1Char('/') + source.completeBaseName() + suffix);
    }
    if (status == TaskStatus::completed) {
        task.compressedSize = 1'500'000;
        task.duration = 1.25;
    }
    if (status == TaskStatus::failed)
        task.errorMessage = QStringLiteral("cjxl: broken");
    return task;
}

TaskItem SampleTasks::refused(const QString &shownPath, qint64 size)
{
    ScanResult scan;
    scan.problems.append({ScanProblem::Kind::undecodableName, shownPath, 0, false, size});
    return FileScanner::importProblems(scan, ConversionMode::jpegToJXL).failedTasks.value(0);
}
