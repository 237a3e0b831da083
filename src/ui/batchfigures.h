#pragma once

#include "model/taskitem.h"

#include <optional>

class BatchRunner;

// The running batch as the chrome bar and the progress strip count it: jobs done of the jobs
// it holds, and the estimate of the time left.
struct BatchFigures
{
    bool running = false;
    int done = 0;
    int total = 0;
    std::optional<qint64> remainingSeconds;
    int skipped = 0;    // of the done ones: left as a former run made them
    int notSmaller = 0; // of the done ones: no JXL kept, as it would not have been smaller

    // 0.0 to 1.0; 0 without jobs.
    double progress() const;

    static BatchFigures of(const BatchRunner &runner);
};
