#pragma once

#include "engine/filejob.h"
#include "engine/toolrun.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Runs of the engine to their end, for the suites that convert real files. Each waits at most a
// minute and aborts the suite after that: a hung job must not look like a failed one.
namespace EngineRuns {

// Settings for a quick job with the given strategy: a low effort, as the result is lossless at
// every effort.
AppSettings settingsWith(DeleteStrategy strategy);

// A job for one file, with its size as it is on disk now.
TaskItem taskFor(const QString &source, ConversionMode mode);

// Runs one job; updates (when given) receives every state it reported on the way.
TaskItem runJob(const TaskItem &task, const AppSettings &settings, QList<TaskItem> *updates = nullptr);

ToolRun::Outcome runToEnd(ToolRun *run);

// The JPEG djxl rebuilds from jxl, written to out (replaced) and read back; empty when it fails.
QByteArray restored(const QString &jxl, const QString &out);

} // namespace EngineRuns
