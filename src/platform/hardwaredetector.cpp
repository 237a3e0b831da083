#include "hardwaredetector.h"

#include <QCoreApplication>
#include <QFile>
#include <QSet>
#include <QStringList>

#include <sched.h>

#include <algorithm>
#include <utility>

namespace {

QByteArray readFile(const QString &path, bool *ok = nullptr)
{
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? file.readAll() : QByteArray();
}

QString brandName(const QString &root)
{
    const QByteArray cpuinfo = readFile(root + QStringLiteral("/proc/cpuinfo"));
    for (const QByteArray &line : cpuinfo.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed() != "model name")
            continue;
        // Invalid UTF-8 turns into replacement characters, as the brand text is only shown.
        return QString::fromUtf8(line.mid(colon + 1)).trimmed();
    }
    return {};
}

// Parses a kernel CPU list such as "0-7,16,18-19".
std::optional<QList<int>> parseCpuList(const QByteArray &text)
{
    QList<int> cpus;
    for (const QByteArray &part : text.trimmed().split(',')) {
        if (part.isEmpty())
            continue;
        const QList<QByteArray> bounds = part.split('-');
        bool okFirst = false;
        bool okLast = true;
        const int first = bounds.value(0).toInt(&okFirst);
        const int last = bounds.size() > 1 ? bounds.value(1).toInt(&okLast) : first;
        if (!okFirst || !okLast || bounds.size() > 2 || last < first || first < 0)
            return std::nullopt;
        for (int cpu = first; cpu <= last; ++cpu)
            cpus.append(cpu);
    }
    return cpus;
}

// Physical cores among the given logical CPUs: distinct (package, core) pairs, so
// hyper-threads of one core count once.
int physicalCores(const QString &root, const QList<int> &cpus)
{
    QSet<std::pair<QByteArray, QByteArray>> cores;
    for (int cpu : cpus) {
        const QString topology = root + QStringLiteral("/sys/devices/system/cpu/cpu%1/topology/").arg(cpu);
        bool coreOk = false;
        const QByteArray package = readFile(topology + QStringLiteral("physical_package_id")).trimmed();
        const QByteArray core = readFile(topology + QStringLiteral("core_id"), &coreOk).trimmed();
        // Without topology each logical CPU stands for a core of its own.
        cores.insert(coreOk ? std::pair(package, core) : std::pair(QByteArray("cpu"), QByteArray::number(cpu)));
    }
    return int(cores.size());
}

std::optional<int> coreKindCount(const QString &root, const char *pmuName)
{
    bool ok = false;
    const QByteArray list = readFile(root + QStringLiteral("/sys/devices/%1/cpus").arg(QLatin1String(pmuName)), &ok);
    if (!ok)
        return std::nullopt;
    const std::optional<QList<int>> cpus = parseCpuList(list);
    if (!cpus)
        return std::nullopt;
    return physicalCores(root, *cpus);
}

int allowedCpuCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0)
        return std::max(CPU_COUNT(&set), 1);
    return 1;
}

} // namespace

namespace HardwareDetector {

HardwareInfo detect(const QString &rootPath, int availableCpus)
{
    HardwareInfo hw;
    hw.chipName = brandName(rootPath);
    if (hw.chipName.isEmpty())
        hw.chipName = QCoreApplication::translate("HardwareDetector", "未知处理器");
    hw.totalCores = availableCpus;

    // Hybrid processors expose one PMU folder per core kind; other machines have neither.
    const std::optional<int> performance = coreKindCount(rootPath, "cpu_core");
    const std::optional<int> efficiency = coreKindCount(rootPath, "cpu_atom");
    if (performance && efficiency && (*performance > 0 || *efficiency > 0)) {
        hw.performanceCores = performance;
        hw.efficiencyCores = efficiency;
    }
    return hw;
}

HardwareInfo thisMachine()
{
    return detect(QString(), allowedCpuCount());
}

} // namespace HardwareDetector
