#include "ui/batchfigures.h"

#include "app/appstate.h"
#include "app/tasklist.h"

#include <algorithm>

double BatchFigures::progress() const
{
    return total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
}

BatchFigures BatchFigures::of(const AppState &state)
{
    BatchFigures figures;
    figures.running = state.isProcessing();
    if (figures.running) {
        const TaskList *list = state.currentTasks();
        figures.done = list->count(TaskStatus::completed);
        figures.total = int(list->size());
    }
    return figures;
}
