#include "hardwareinfo.h"

#include <algorithm>

HardwareInfo HardwareInfo::fromFacts(const QString &chipName, int totalCores, std::optional<int> performanceCores,
                                     std::optional<int> efficiencyCores)
{
    HardwareInfo hw;
    hw.chipName = chipName;
    hw.totalCores = totalCores;
    if (performanceCores && efficiencyCores) {
        hw.performanceCores = performanceCores;
        hw.efficiencyCores = efficiencyCores;
    }
    return hw;
}

int HardwareInfo::recommendedAutoConcurrency() const
{
    int result;
    if (performanceCores && efficiencyCores) {
        const int p = *performanceCores;
        const int e = *efficiencyCores;
        result = std::min(p + (e > 1 ? e / 2 : 1), totalCores);
    } else {
        result = totalCores >= 5 ? totalCores - 2 : totalCores - 1;
    }
    return std::max(result, 1);
}

int HardwareInfo::recommendedSaverConcurrency() const
{
    if (performanceCores && efficiencyCores)
        return std::clamp(*efficiencyCores, 1, 4);
    return totalCores > 1 ? totalCores / 2 : 1;
}
