#pragma once

#include "hardwareinfo.h"

#include <QString>

// Reads the processor's name and core counts from /proc and /sys.
namespace HardwareDetector {

// Reads a machine whose /proc and /sys live below rootPath (tests point it at a fake tree).
// availableCpus stands for the CPUs this process may run on.
HardwareInfo detect(const QString &rootPath, int availableCpus);

// The running machine, read anew on each call: the composition root reads it once and hands it on.
HardwareInfo thisMachine();

} // namespace HardwareDetector
