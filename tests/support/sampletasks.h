#pragma once

#include "model/taskitem.h"

// Jobs as the table suites list them, without running anything.
namespace SampleTasks {

// A 2 MB photo's job. Finished (completed, failed, skipped), it names an output of the
// source's name beside it; completed, that output is 1.5 MB, made in 1.25 s; failed, the tool
// said "cjxl: broken".
TaskItem make(const QString &path, TaskStatus status = TaskStatus::pending,
              ConversionMode mode = ConversionMode::jpegToJXL);
// The job of a photo whose name is not UTF-8, as an import lists it (failed, never to be retried).
TaskItem refused(const QString &shownPath, qint64 size = 0);

} // namespace SampleTasks
