#include "ui/batchfigures.h"

#include "app/batchcontroller.h"
#include "app/batchrunner.h"

#include <algorithm>

double BatchFigures::progress() const
{
    return total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
}

BatchFigures BatchFigures::of(const BatchRunner &runner)
{
    BatchFigures figures;
    // The batch's own jobs, not the shown list: it may be the other direction's.
    figures.running = runner.isProcessing();
    if (figures.running) {
        const BatchController *batch = runner.batch();
        figures.done = batch->doneCount();
        figures.skipped = batch->skippedCount();
        figures.notSmaller = batch->notSmallerCount();
        figures.total = batch->totalCount();
        figures.remainingSeconds = batch->remainingSeconds();
    }
    return figures;
}
