// A batch of large photos under a memory limit: pikora-cli, which starts a job only when its
// estimated memory fits, against the bare cjxl run by `xargs -P` with as many jobs, and against
// `xargs -P 1` (what surely fits). Each runs in a memory control group of its own with the same
// limit (cgroup v2, else v1; needs the right to make groups, as root usually). Prints tools killed
// by the kernel, peak memory against the limit, and the time ratios.
//
// bench_memory [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_MEMORY_PHOTOS (default 4), BENCH_MEMORY_MP megapixels per photo (default 24),
// BENCH_MEMORY_JOBS jobs for both parallel runs (default 4), BENCH_MEMORY_LIMIT_MB (default:
// room for about 2.5 photos at cjxl's 30 MB per megapixel).
#include "benchsetting.h"
#include "clibench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <optional>
#include <vector>

using CliBench::fail;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

std::optional<qint64> keyed(const QByteArray &text, const QByteArray &key)
{
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 2 && parts.at(0) == key)
            return parts.at(1).trimmed().toLongLong();
    }
    return std::nullopt;
}

// One memory control group made for the benchmark, removed at the end.
class MemoryGroup
{
public:
    static std::optional<MemoryGroup> make(qint64 limit, QString *why)
    {
        // cgroup v2: a child of our own group, where the memory controller is enabled.
        const QByteArray self = readFile(QStringLiteral("/proc/self/cgroup"));
        for (const QByteArray &line : self.split('\n')) {
            if (line.startsWith("0::")) {
                const QString parent = QDir::cleanPath(QStringLiteral("/sys/fs/cgroup/") + QString::fromUtf8(line.mid(3)));
                // A hybrid layout mounts v1 hierarchies there, and the unified one has no memory controller.
                if (!readFile(parent + QStringLiteral("/cgroup.controllers")).split(' ').contains("memory")
                    && !readFile(parent + QStringLiteral("/cgroup.controllers")).trimmed().split(' ').contains("memory"))
                    continue;
                const QString controllers = QString::fromUtf8(readFile(parent + QStringLiteral("/cgroup.subtree_control")));
                if (!controllers.split(QLatin1Char(' ')).contains(QStringLiteral("memory")))
                    writeFile(parent + QStringLiteral("/cgroup.subtree_control"), "+memory");
                MemoryGroup group;
                group.m_path = parent + QStringLiteral("/pikora-bench-%1").arg(::getpid());
                group.m_v2 = true;
                if (QDir().mkdir(group.m_path)
                    && writeFile(group.m_path + QStringLiteral("/memory.max"), QByteArray::number(limit))) {
                    writeFile(group.m_path + QStringLiteral("/memory.swap.max"), "0");
                    return group;
                }
                QDir().rmdir(group.m_path);
            }
        }
        // cgroup v1: a child in the memory hierarchy.
        for (const QByteArray &line : self.split('\n')) {
            const QList<QByteArray> parts = line.split(':');
            if (parts.size() == 3 && parts.at(1).split(',').contains("memory")) {
                MemoryGroup group;
                group.m_path = QStringLiteral("/sys/fs/cgroup/memory") + QString::fromUtf8(parts.at(2))
                    + QStringLiteral("/pikora-bench-%1").arg(::getpid());
                group.m_path = QDir::cleanPath(group.m_path);
                if (QDir().mkdir(group.m_path)
                    && writeFile(group.m_path + QStringLiteral("/memory.limit_in_bytes"), QByteArray::number(limit))) {
                    writeFile(group.m_path + QStringLiteral("/memory.memsw.limit_in_bytes"), QByteArray::number(limit));
                    return group;
                }
                QDir().rmdir(group.m_path);
            }
        }
        *why = QStringLiteral("no memory control group can be made here (needs cgroup v2 with the memory controller, or v1, and the right to write it)");
        return std::nullopt;
    }

    QString path() const { return m_path; }
    QString version() const { return m_v2 ? QStringLiteral("cgroup v2") : QStringLiteral("cgroup v1"); }

    qint64 oomKills() const
    {
        if (m_v2)
            return keyed(readFile(m_path + QStringLiteral("/memory.events")), "oom_kill").value_or(0);
        return keyed(readFile(m_path + QStringLiteral("/memory.oom_control")), "oom_kill").value_or(0);
    }

    // Peak use since the last reset (v1), or since the group was made (v2 memory.peak, when present).
    std::optional<qint64> peak() const
    {
        const QByteArray text = readFile(m_path + (m_v2 ? QStringLiteral("/memory.peak") : QStringLiteral("/memory.max_usage_in_bytes")));
        bool ok = false;
        const qint64 value = text.trimmed().toLongLong(&ok);
        return ok ? std::optional<qint64>(value) : std::nullopt;
    }

    void resetPeak() const
    {
        if (!m_v2)
            writeFile(m_path + QStringLiteral("/memory.max_usage_in_bytes"), "0");
    }

    // Tools a run left behind (xargs stops waiting once one of its commands is killed) would
    // take the next run's memory: each is ended by its id, and the group waited for until empty.
    int endLeftovers() const
    {
        int ended = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QList<QByteArray> pids = readFile(m_path + QStringLiteral("/cgroup.procs")).split('\n');
            bool any = false;
            for (const QByteArray &pid : pids) {
                if (pid.trimmed().isEmpty())
                    continue;
                any = true;
                if (attempt == 0)
                    ++ended;
                ::kill(pid.trimmed().toInt(), SIGKILL);
            }
            if (!any)
                break;
            ::usleep(100000);
        }
        return ended;
    }

    void remove() const
    {
        // The group must be empty; every run has ended by now.
        QDir().rmdir(m_path);
    }

    // Puts the child process into the group before it runs its program.
    void enter(QProcess &process) const
    {
        const QByteArray procs = QFile::encodeName(m_path + QStringLiteral("/cgroup.procs"));
        process.setChildProcessModifier([procs] {
            const int fd = ::open(procs.constData(), O_WRONLY);
            if (fd < 0)
                ::_exit(126);
            char pid[32];
            const int length = std::snprintf(pid, sizeof pid, "%d", int(::getpid()));
            const bool written = ::write(fd, pid, size_t(length)) == length;
            ::close(fd);
            if (!written)
                ::_exit(126);
        });
    }

private:
    QString m_path;
    bool m_v2 = false;
};

// A photo-like image: smooth gradients under fine noise, so the JPEG is of camera size.
bool writePhoto(const QString &path, int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    quint64 state = quint64(seed) * 0x9E3779B97F4A7C15ULL + 1;
    const auto next = [&state] {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return quint32((state * 0x2545F4914F6CDD1DULL) >> 32);
    };
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(next() % 17) - 8;
            const int r = (x * 255 / width + grain + seed * 40) & 0xFF;
            const int g = (y * 255 / height + grain) & 0xFF;
            const int b = ((x + y) * 127 / (width + height) + 64 + grain) & 0xFF;
            line[x] = qRgb(r, g, b);
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

struct Outcome
{
    double seconds = 0;
    int exitCode = 0;
    qint64 kills = 0;    // the kernel's OOM kills in the group
    int outputs = 0;     // JXL files written
    std::optional<qint64> peak;
    QByteArray standardError;
};

} // namespace

int run(int argc, char **argv)
{
    const CliBench::Programs programs = CliBench::findPrograms(argc, argv);
    const QString &cli = programs.cli;
    const QString &cjxl = programs.cjxl;
    const int photos = benchSetting("BENCH_MEMORY_PHOTOS", 4);
    const int megapixels = benchSetting("BENCH_MEMORY_MP", 24);
    const int jobs = benchSetting("BENCH_MEMORY_JOBS", 4);
    const qint64 perPhoto = qint64(megapixels) * 30 * 1000 * 1000;
    const qint64 limit = qint64(benchSetting("BENCH_MEMORY_LIMIT_MB", int(perPhoto * 5 / 2 / 1000000))) * 1000 * 1000;
    const int height = int(std::lround(std::sqrt(megapixels * 1e6 * 2.0 / 3.0)));
    const int width = height * 3 / 2;

    QString why;
    const std::optional<MemoryGroup> group = MemoryGroup::make(limit, &why);
    if (!group) {
        std::printf("bench_memory: skipped: %s\n", qPrintable(why));
        return 0;
    }
    struct Cleanup
    {
        const MemoryGroup &group;
        ~Cleanup() { group.remove(); }
    } cleanup{*group};

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-memory-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    const QString root = dir.path();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString folder = root + QStringLiteral("/home/") + QString::fromLatin1(variable).toLower();
        QDir().mkpath(folder);
        environment.insert(QString::fromLatin1(variable), folder);
    }

    const QString set = root + QStringLiteral("/set");
    QDir().mkpath(set);
    QStringList names;
    for (int i = 0; i < photos; ++i)
        names.append(QStringLiteral("BIG_%1.jpg").arg(i + 1));
    QElapsedTimer clock;
    clock.start();
    std::vector<int> indices(static_cast<size_t>(photos));
    std::iota(indices.begin(), indices.end(), 0);
    std::atomic<bool> written{true};
    QtConcurrent::blockingMap(indices, [&](int i) {
        if (!writePhoto(set + QLatin1Char('/') + names.at(i), width, height, i))
            written = false;
    });
    if (!written)
        fail(QStringLiteral("cannot write the JPEGs"));
    std::printf("bench_memory: %d JPEGs of %dx%d (%.0f MP) in %.1f s; %s limit %.0f MB (cjxl needs ~%.0f MB a photo)\n",
                photos, width, height, double(width) * height / 1e6, double(clock.nsecsElapsed()) / 1e9,
                qPrintable(group->version()), double(limit) / 1e6, double(perPhoto) / 1e6);
    std::fflush(stdout);

    const auto runIn = [&](const QString &label, const QString &program, const QStringList &arguments, const QByteArray &input) {
        const QString folder = root + QStringLiteral("/run");
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        for (const QString &name : std::as_const(names))
            QFile::copy(set + QLatin1Char('/') + name, folder + QLatin1Char('/') + name);
        QStringList args = arguments;
        args.replaceInStrings(QStringLiteral("@FOLDER@"), folder);
        QByteArray stdinData = input;
        stdinData.replace("@FOLDER@", QFile::encodeName(folder));

        Outcome outcome;
        group->resetPeak();
        const qint64 killsBefore = group->oomKills();
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setStandardOutputFile(QProcess::nullDevice());
        group->enter(process);
        QElapsedTimer timer;
        timer.start();
        process.start(program, args);
        if (!process.waitForStarted(-1))
            fail(QStringLiteral("cannot start ") + program);
        process.write(stdinData);
        process.closeWriteChannel();
        if (!process.waitForFinished(1800 * 1000))
            fail(label + QStringLiteral(" did not finish"));
        outcome.seconds = double(timer.nsecsElapsed()) / 1e9;
        const int leftovers = group->endLeftovers();
        outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.standardError = process.readAllStandardError();
        outcome.kills = group->oomKills() - killsBefore;
        outcome.peak = group->peak();
        outcome.outputs = int(QDir(folder).entryList({QStringLiteral("*.jxl")}, QDir::Files).size());
        std::printf("  %-22s %7.2f s  exit %3d  %d/%d written  %lld tools killed  peak %s%s\n", qPrintable(label),
                    outcome.seconds, outcome.exitCode, outcome.outputs, photos, qlonglong(outcome.kills),
                    outcome.peak ? qPrintable(QStringLiteral("%1 MB").arg(double(*outcome.peak) / 1e6, 0, 'f', 0))
                                 : "unknown",
                    leftovers > 0 ? qPrintable(QStringLiteral("  (%1 orphaned tools ended)").arg(leftovers)) : "");
        std::fflush(stdout);
        QDir(folder).removeRecursively();
        return outcome;
    };

    QByteArray pairs;
    for (const QString &name : std::as_const(names)) {
        pairs += "@FOLDER@/" + QFile::encodeName(name) + '\0';
        pairs += "@FOLDER@/" + QFile::encodeName(QFileInfo(name).completeBaseName()) + ".jxl" + '\0';
    }
    const QStringList cjxlOptions{cjxl, QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-q"), QStringLiteral("100"),
                                  QStringLiteral("-e"), QStringLiteral("7")};
    const auto xargs = [&](int parallel) {
        return QStringList{QStringLiteral("-0"), QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-P"),
                           QString::number(parallel)}
            + cjxlOptions;
    };
    const Outcome bare = runIn(QStringLiteral("xargs -P %1 cjxl").arg(jobs), QStringLiteral("xargs"), xargs(jobs), pairs);
    const Outcome pikora = runIn(QStringLiteral("pikora-cli -j %1").arg(jobs), cli,
                                 {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"), QString::number(jobs),
                                  QStringLiteral("-e"), QStringLiteral("7"), QStringLiteral("-o"), QStringLiteral("keep"),
                                  QStringLiteral("--cjxl"), cjxl, QStringLiteral("@FOLDER@")},
                                 {});
    const Outcome serial = runIn(QStringLiteral("xargs -P 1 cjxl"), QStringLiteral("xargs"), xargs(1), pairs);

    const bool pikoraClean = pikora.kills == 0 && pikora.exitCode == 0 && pikora.outputs == photos;
    const bool bareKilled = bare.kills > 0 || bare.outputs < photos;
    // QT_LOGGING_RULES="pikora.core.debug=true" shows every start decision here.
    if (!pikoraClean || !pikora.standardError.isEmpty())
        std::fprintf(stderr, "bench_memory: pikora-cli: %s\n", pikora.standardError.constData());
    std::printf("  killed tools: xargs -P %d %lld, pikora-cli -j %d %lld (%s)\n", jobs, qlonglong(bare.kills), jobs,
                qlonglong(pikora.kills), pikoraClean ? "every photo converted" : "PIKORA LOST JOBS");
    if (pikora.peak)
        std::printf("  pikora peak / limit       %6.3f\n", double(*pikora.peak) / double(limit));
    std::printf("  pikora / xargs -P 1       %6.3f  (time, against the serial run that fits)\n", pikora.seconds / serial.seconds);
    std::printf("  pikora / xargs -P %-2d      %6.3f  (time, against the run that %s)\n", jobs, pikora.seconds / bare.seconds,
                bareKilled ? "lost photos" : "fitted anyway");
    return pikoraClean ? 0 : 1;
}

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_memory", argc, argv, run);
}
