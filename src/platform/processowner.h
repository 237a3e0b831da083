#pragma once

#include <QString>

// Names a process so that another one can later tell whether it still runs: the pid with its
// start time (pids are reused), plus a tag of the boot and pid namespace the pid belongs to.
namespace ProcessOwner {

// "<8 hex: boot and pid namespace>-<pid>-<start time in clock ticks>", the same on every call.
QString ownTag();

enum class State {
    alive,
    dead,
    // Another machine sharing the folder, another container, or an earlier boot: its pids
    // mean nothing here.
    unknown,
};

// What a tag made by ownTag() in some process says about that process now.
State stateOf(const QString &tag);

} // namespace ProcessOwner
