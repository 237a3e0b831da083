// Times one set of generated 12-megapixel JPEGs compressed three ways, each on a fresh copy:
// pikora-cli with one job per CPU, the bare cjxl run in parallel by xargs (the limit a batch
// can reach), and pikora-cli with one job. Prints the times and their ratios; every run must
// write the same bytes.
//
// bench_throughput [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_PHOTOS sets how many photos (default 8), BENCH_ROUNDS how many rounds (default 3; the
// best time of each way counts); BENCH_KEEP keeps the temporary folder.
#include "benchsetting.h"
#include "clibench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <numeric>
#include <vector>

using CliBench::fail;
using CliBench::Timing;
using CliBench::timed;

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kEffort = 7;
constexpr int kQuality = 90;

// xorshift64*: fast, and the same photos on every machine.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed * 0x9E3779B97F4A7C15ULL + 1) {}

    quint32 next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return quint32((m_state * 0x2545F4914F6CDD1DULL) >> 32);
    }

    // Uniform in [-1, 1].
    float signedUnit() { return float(next()) / 2147483648.0f - 1.0f; }

private:
    quint64 m_state;
};

// Smooth random texture at one scale: random values on a grid, interpolated between points.
class ValueNoise
{
public:
    ValueNoise(int cell, Random &random)
        : m_cell(cell)
        , m_columns(kWidth / cell + 2)
        , m_rows(kHeight / cell + 2)
        , m_grid(size_t(m_columns) * size_t(m_rows))
    {
        for (float &value : m_grid)
            value = random.signedUnit();
        m_column.resize(kWidth);
        m_fraction.resize(kWidth);
        for (int x = 0; x < kWidth; ++x) {
            m_column[size_t(x)] = x / cell;
            m_fraction[size_t(x)] = smooth(float(x % cell) / float(cell));
        }
    }

    // Prepares the two grid rows around image row y.
    void selectRow(int y)
    {
        m_top = &m_grid[size_t(y / m_cell) * size_t(m_columns)];
        m_bottom = m_top + m_columns;
        m_rowFraction = smooth(float(y % m_cell) / float(m_cell));
    }

    float at(int x) const
    {
        const int c = m_column[size_t(x)];
        const float fx = m_fraction[size_t(x)];
        const float top = m_top[c] + (m_top[c + 1] - m_top[c]) * fx;
        const float bottom = m_bottom[c] + (m_bottom[c + 1] - m_bottom[c]) * fx;
        return top + (bottom - top) * m_rowFraction;
    }

private:
    static float smooth(float t) { return t * t * (3.0f - 2.0f * t); }

    int m_cell;
    int m_columns;
    int m_rows;
    std::vector<float> m_grid;
    std::vector<int> m_column;
    std::vector<float> m_fraction;
    const float *m_top = nullptr;
    const float *m_bottom = nullptr;
    float m_rowFraction = 0;
};

int clampByte(float value)
{
    return std::clamp(int(std::lround(value)), 0, 255);
}

// A landscape: a sky with clouds over textured hills, a soft sun, and sensor noise on every
// pixel, so that the JPEG is about the size of a camera's (a few MB), not a flat test card.
QImage landscape(int seed)
{
    Random random(quint64(seed) + 1);
    ValueNoise clouds1(512, random), clouds2(128, random), clouds3(32, random);
    ValueNoise ground1(256, random), ground2(48, random), ground3(8, random), ground4(2, random);

    constexpr float tau = 2.0f * std::numbers::pi_v<float>;
    const float phase1 = random.signedUnit() * tau;
    const float phase2 = random.signedUnit() * tau;
    std::vector<float> horizon(kWidth);
    for (int x = 0; x < kWidth; ++x) {
        const float t = float(x) / float(kWidth);
        horizon[size_t(x)] = kHeight * 0.55f + 180.0f * std::sin(t * tau * 1.3f + phase1)
            + 70.0f * std::sin(t * tau * 4.1f + phase2);
    }
    const float sunX = kWidth * (0.2f + 0.6f * (random.signedUnit() + 1.0f) / 2.0f);
    const float sunY = kHeight * 0.18f;
    const float sunRadius = 160.0f;
    const float hueShift = random.signedUnit() * 20.0f;

    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    for (int y = 0; y < kHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (ValueNoise *noise : {&clouds1, &clouds2, &clouds3, &ground1, &ground2, &ground3, &ground4})
            noise->selectRow(y);
        const float v = float(y) / float(kHeight);
        for (int x = 0; x < kWidth; ++x) {
            float r, g, b;
            const float edge = horizon[size_t(x)] - float(y);
            if (edge > 0) {
                // Sky: darker blue above, pale at the horizon, clouds where the noise is high.
                const float h = std::min(1.0f, v / 0.6f);
                r = 40 + 140 * h + hueShift;
                g = 90 + 115 * h;
                b = 170 + 60 * h - hueShift;
                const float density = clouds1.at(x) * 0.6f + clouds2.at(x) * 0.3f + clouds3.at(x) * 0.1f;
                const float cloud = std::clamp((density - 0.05f) * 2.5f, 0.0f, 1.0f);
                r += (235 - r) * cloud;
                g += (235 - g) * cloud;
                b += (240 - b) * cloud;
                const float dx = float(x) - sunX, dy = float(y) - sunY;
                const float sun = std::clamp((sunRadius - std::sqrt(dx * dx + dy * dy)) / 12.0f, 0.0f, 1.0f);
                r += (255 - r) * sun;
                g += (250 - g) * sun;
                b += (220 - b) * sun;
            } else {
                // Hills: green and brown patches, grass detail at several scales, darker towards the front.
                const float patch = ground1.at(x);
                const float detail = ground2.at(x) * 0.5f + ground3.at(x) * 0.35f + ground4.at(x) * 0.25f;
                const float shade = 1.0f - 0.35f * v + 0.6f * detail;
                r = (80 + 40 * patch + hueShift) * shade;
                g = (115 + 25 * patch) * shade;
                b = (45 + 15 * patch) * shade;
            }
            // Sensor noise, stronger in the darker foreground.
            const float grain = edge > 0 ? 6.0f : 12.0f;
            r += random.signedUnit() * grain;
            g += random.signedUnit() * grain;
            b += random.signedUnit() * grain;
            line[x] = qRgb(clampByte(r), clampByte(g), clampByte(b));
        }
    }
    return image;
}

bool writePhoto(const QString &path, int seed)
{
    QImageWriter writer(path, "jpeg");
    writer.setQuality(kQuality);
    return writer.write(landscape(seed));
}

int cpuCount()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll().split(' ').value(0));
}

// A fresh copy of the photo set, timed apart from the runs.
QString freshCopy(const QString &set, const QStringList &names, const QString &folder)
{
    if (!QDir().mkpath(folder))
        fail(QStringLiteral("cannot make ") + folder);
    for (const QString &name : names) {
        if (!QFile::copy(set + QLatin1Char('/') + name, folder + QLatin1Char('/') + name))
            fail(QStringLiteral("cannot copy ") + name);
    }
    return folder;
}

QString jxlName(const QString &jpegName)
{
    return QFileInfo(jpegName).completeBaseName() + QStringLiteral(".jxl");
}

qint64 folderBytes(const QString &folder, const QStringList &names)
{
    qint64 total = 0;
    for (const QString &name : names)
        total += QFileInfo(folder + QLatin1Char('/') + name).size();
    return total;
}

} // namespace

int run(int argc, char **argv)
{
    const CliBench::Programs programs = CliBench::findPrograms(argc, argv);
    const QString &cli = programs.cli;
    const QString &cjxl = programs.cjxl;
    const int photos = benchSetting("BENCH_PHOTOS", 8);
    const int rounds = benchSetting("BENCH_ROUNDS", 3);
    const int jobs = cpuCount();
    const int timeoutSeconds = 60 + 30 * photos;

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-throughput-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    const QString root = dir.path();
    if (qEnvironmentVariableIsSet("BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("bench_throughput: keeping %s\n", qPrintable(root));
    }

    // The runs count into a configuration of their own, never the user's lifetime counters.
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
        names.append(QStringLiteral("DSC_%1.jpg").arg(i + 1, 4, 10, QLatin1Char('0')));
    QElapsedTimer clock;
    clock.start();
    std::vector<int> indices(static_cast<size_t>(photos));
    std::iota(indices.begin(), indices.end(), 0);
    std::atomic<bool> written{true};
    QtConcurrent::blockingMap(indices, [&](int i) {
        if (!writePhoto(set + QLatin1Char('/') + names.at(i), i))
            written = false;
    });
    if (!written)
        fail(QStringLiteral("cannot write the JPEGs (is the Qt JPEG plugin installed?)"));
    const qint64 jpegBytes = folderBytes(set, names);
    std::printf("bench_throughput: %d JPEGs of %dx%d (quality %d), %.1f MB, generated in %.1f s; %d CPUs, load %s\n",
                photos, kWidth, kHeight, kQuality, double(jpegBytes) / 1e6, double(clock.nsecsElapsed()) / 1e9, jobs,
                qPrintable(loadAverage()));
    std::printf("  cjxl: %s, effort %d\n", qPrintable(cjxl), kEffort);
    std::fflush(stdout);

    // The three ways, each given a fresh copy of the set.
    const auto runPikora = [&](int jobCount, const QString &folder) {
        return timed(cli,
                     {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"), QString::number(jobCount),
                      QStringLiteral("-e"), QString::number(kEffort), QStringLiteral("-o"), QStringLiteral("keep"),
                      QStringLiteral("--cjxl"), cjxl, folder},
                     environment, timeoutSeconds);
    };
    const auto runBare = [&](const QString &folder) {
        QByteArray pairs;
        for (const QString &name : std::as_const(names)) {
            pairs += QFile::encodeName(folder + QLatin1Char('/') + name) + '\0';
            pairs += QFile::encodeName(folder + QLatin1Char('/') + jxlName(name)) + '\0';
        }
        // The engine's arguments, options first: xargs appends the two paths.
        return timed(QStringLiteral("xargs"),
                     {QStringLiteral("-0"), QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-P"),
                      QString::number(jobs), cjxl, QStringLiteral("--lossless_jpeg=1"), QStringLiteral("-q"),
                      QStringLiteral("100"), QStringLiteral("-e"), QString::number(kEffort)},
                     environment, timeoutSeconds, pairs);
    };
    struct Way
    {
        QString label;
        std::function<Timing(const QString &)> run;
        Timing best;
        std::vector<double> walls; // one per round
    };
    std::array<Way, 3> ways{{
        {QStringLiteral("pikora-cli -j %1").arg(jobs), [&](const QString &folder) { return runPikora(jobs, folder); }, {}, {}},
        {QStringLiteral("xargs -P %1 cjxl").arg(jobs), runBare, {}, {}},
        {QStringLiteral("pikora-cli -j 1"), [&](const QString &folder) { return runPikora(1, folder); }, {}, {}},
    }};

    // Other work on the machine adds time: report the best of a few rounds beside each round's
    // own ratio, and rotate the order so that no way always runs first.
    QStringList jxlNames;
    for (const QString &name : std::as_const(names))
        jxlNames.append(jxlName(name));
    QList<QByteArray> reference;
    int differing = 0;
    qint64 jxlBytes = 0;
    for (int round = 0; round < rounds; ++round) {
        for (size_t step = 0; step < ways.size(); ++step) {
            Way &way = ways[(step + size_t(round)) % ways.size()];
            const QString folder = freshCopy(set, names, root + QStringLiteral("/run"));
            const Timing timing = way.run(folder);
            way.best.keepBest(timing);
            way.walls.push_back(timing.wall);
            std::printf("  round %d  %-18s %7.2f s  (CPU %.2f s)\n", round + 1, qPrintable(way.label), timing.wall,
                        timing.cpu);
            std::fflush(stdout);

            QList<QByteArray> outputs;
            for (const QString &name : std::as_const(jxlNames)) {
                QFile file(folder + QLatin1Char('/') + name);
                outputs.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
            }
            if (reference.isEmpty()) {
                reference = outputs;
                jxlBytes = folderBytes(folder, jxlNames);
            }
            for (qsizetype i = 0; i < outputs.size(); ++i) {
                if (outputs.at(i).isEmpty() || outputs.at(i) != reference.at(i)) {
                    std::fprintf(stderr, "bench_throughput: %s of %s is missing or differs from the first run's\n",
                                 qPrintable(jxlNames.at(i)), qPrintable(way.label));
                    ++differing;
                }
            }
            if (!QDir(folder).removeRecursively())
                fail(QStringLiteral("cannot remove ") + folder);
        }
    }

    QProcess stats;
    stats.setProcessEnvironment(environment);
    stats.start(cli, {QStringLiteral("stats"), QStringLiteral("--json")});
    stats.waitForFinished(-1);

    const double pikoraParallel = ways[0].best.wall;
    const double bareParallel = ways[1].best.wall;
    const double pikoraSerial = ways[2].best.wall;
    const double ratio = pikoraParallel / bareParallel;
    // This machine's speed drifts over minutes, so each way's best may come from a faster minute
    // than the other's: the ratio of two runs a few seconds apart, median over rounds, is steadier.
    std::vector<double> roundRatios;
    for (int round = 0; round < rounds; ++round)
        roundRatios.push_back(ways[0].walls[size_t(round)] / ways[1].walls[size_t(round)]);
    std::sort(roundRatios.begin(), roundRatios.end());
    const size_t middle = roundRatios.size() / 2;
    const double medianRatio = roundRatios.size() % 2 ? roundRatios[middle]
                                                      : (roundRatios[middle - 1] + roundRatios[middle]) / 2;
    std::printf("  output %.1f MB (-%.1f%%); %s\n", double(jxlBytes) / 1e6,
                100.0 * double(jpegBytes - jxlBytes) / double(jpegBytes),
                differing == 0 ? "every run wrote the same bytes" : "RUNS WROTE DIFFERENT BYTES");
    std::printf("  counters of the isolated configuration: %s\n", stats.readAllStandardOutput().trimmed().constData());
    for (const Way &way : ways)
        std::printf("  best of %d  %-17s %7.2f s  (%.2f s per photo; CPU %.2f s)\n", rounds, qPrintable(way.label),
                    way.best.wall, way.best.wall / photos, way.best.cpu);
    std::printf("  pikora -j %d / bare       %6.3f  (%s the 5%% target; CPU %.3f)\n", jobs, ratio,
                ratio <= 1.05 ? "within" : "outside", ways[0].best.cpu / ways[1].best.cpu);
    std::printf("  pikora -j %d / bare       %6.3f  median of the rounds' own ratios\n", jobs, medianRatio);
    std::printf("  pikora -j 1 / -j %-3d     %6.3f\n", jobs, pikoraSerial / pikoraParallel);
    return differing == 0 ? 0 : 1;
}

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_throughput", argc, argv, run);
}
