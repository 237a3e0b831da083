#pragma once

#include <QString>

#include <optional>

// The processor's name and core counts, read once, and the concurrencies derived from them.
struct HardwareDetector
{
    QString chipName;
    int totalCores = 1;
    std::optional<int> performanceCores;
    std::optional<int> efficiencyCores;

    // Reads the running machine.
    HardwareDetector();
    // Reads a machine whose /proc and /sys live below rootPath (tests point it at a fake tree).
    // availableCpus stands for the CPUs this process may run on.
    static HardwareDetector detect(const QString &rootPath, int availableCpus);
    // Builds a record from known facts, without reading anything.
    static HardwareDetector fromFacts(const QString &chipName, int totalCores,
                                      std::optional<int> performanceCores,
                                      std::optional<int> efficiencyCores);

    static const HardwareDetector &shared();

    int recommendedAutoConcurrency() const;
    int recommendedSaverConcurrency() const;

private:
    struct NoDetection {};
    explicit HardwareDetector(NoDetection) {}
};
