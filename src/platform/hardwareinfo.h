#pragma once

#include <QString>

#include <optional>

// The processor's name and core counts, and the concurrencies derived from them.
struct HardwareInfo
{
    QString chipName;
    int totalCores = 1;
    std::optional<int> performanceCores;
    std::optional<int> efficiencyCores;

    // A record from known facts; core kinds count only when both are known.
    static HardwareInfo fromFacts(const QString &chipName, int totalCores, std::optional<int> performanceCores,
                                  std::optional<int> efficiencyCores);

    int recommendedAutoConcurrency() const;
    int recommendedSaverConcurrency() const;
};
