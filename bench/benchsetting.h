#pragma once

#include <QtGlobal>

// A benchmark's size as the environment sets it (BENCH_ROWS=1000 ...): a positive number, else the
// benchmark's own default.
inline int benchSetting(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}
