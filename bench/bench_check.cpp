// The cost of checking an archive: pikora-cli check with two jobs against the bare work it
// stands for, djxl run two at a time by xargs into a temporary folder followed by sha256sum
// of what it wrote, both timed in the same run on the same JPEG XL files. The files are made
// once (JPEGs scaled from the sample photos, compressed by pikora-cli so that each stores its
// digest) and kept in the build folder.
//
// bench_check [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_PHOTOS sets how many files (default 300), BENCH_ROUNDS how many rounds (default 3; the
// best time of each way counts).
#include "benchsetting.h"
#include "clibench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>

using CliBench::fail;
using CliBench::Timing;
using CliBench::timed;

namespace {

constexpr int kJobs = 2;
constexpr int kQuality = 90;
constexpr int kTimeoutSeconds = 3600;

// The JXLs, made once: JPEGs of about 1.2 megapixels, compressed in place with their digests.
QStringList makeArchive(const CliBench::Programs &programs, const QString &folder, int count,
                        const QProcessEnvironment &environment)
{
    const QString samples = QStringLiteral(PIKORA_BENCH_DATA_DIR "/jpeg/cameras");
    const QStringList sampleNames = QDir(samples).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (sampleNames.isEmpty())
        fail(QStringLiteral("no sample photos"));
    QDir().mkpath(folder);
    QStringList names;
    bool missing = false;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("archived_%1").arg(i, 5, 10, QLatin1Char('0'));
        names.append(name + QStringLiteral(".jxl"));
        if (QFileInfo::exists(folder + QLatin1Char('/') + names.last()))
            continue;
        missing = true;
        const QImage sample(samples + QLatin1Char('/') + sampleNames.at(i % sampleNames.size()));
        // Slightly different sizes, so no two files are the same.
        const int width = 1240 + (i % 80);
        const QImage scaled = sample.convertToFormat(QImage::Format_RGB32)
                                  .scaled(width, width * 3 / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!scaled.save(folder + QLatin1Char('/') + name + QStringLiteral(".jpg"), "JPEG", kQuality))
            fail(QStringLiteral("cannot write ") + name);
    }
    if (missing)
        timed(programs.cli,
              {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"), QString::number(kJobs),
               QStringLiteral("-o"), QStringLiteral("delete"), QStringLiteral("--cjxl"), programs.cjxl, folder},
              environment, kTimeoutSeconds);
    return names;
}

} // namespace

int run(int argc, char **argv)
{
    const CliBench::Programs programs = CliBench::findPrograms(argc, argv);
    const QString djxl = QStandardPaths::findExecutable(QStringLiteral("djxl"));
    const QString sha256sum = QStandardPaths::findExecutable(QStringLiteral("sha256sum"));
    if (djxl.isEmpty() || sha256sum.isEmpty())
        fail(QStringLiteral("djxl or sha256sum is not on PATH"));
    const int photos = benchSetting("BENCH_PHOTOS", 300);
    const int rounds = benchSetting("BENCH_ROUNDS", 3);

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-check-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    const QProcessEnvironment environment = CliBench::isolatedEnvironment(dir.path());
    const QString archive = QCoreApplication::applicationDirPath() + QStringLiteral("/check-cache");
    QElapsedTimer clock;
    clock.start();
    const QStringList names = makeArchive(programs, archive, photos, environment);
    qint64 bytes = 0;
    for (const QString &name : names) {
        const qint64 size = QFileInfo(archive + QLatin1Char('/') + name).size();
        if (size <= 0)
            fail(QStringLiteral("no ") + name);
        bytes += size;
    }
    std::printf("bench_check: %d JXLs, %.1f KB on average, ready in %.1f s\n", photos, double(bytes) / photos / 1000.0,
                double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);

    const QString rebuilt = dir.path() + QStringLiteral("/rebuilt");
    QByteArray pairs;
    QByteArray copies;
    for (const QString &name : names) {
        const QByteArray copy = QFile::encodeName(rebuilt + QLatin1Char('/') + QFileInfo(name).completeBaseName()
                                                  + QStringLiteral(".jpg"));
        pairs += QFile::encodeName(archive + QLatin1Char('/') + name) + '\0' + copy + '\0';
        copies += copy + '\0';
    }
    const auto runPikora = [&] {
        return timed(programs.cli,
                     {QStringLiteral("check"), QStringLiteral("-q"), QStringLiteral("-j"), QString::number(kJobs),
                      QStringLiteral("--djxl"), djxl, archive},
                     environment, kTimeoutSeconds);
    };
    // The same work bare: every JPEG rebuilt, then every one hashed; the copies go untimed.
    const auto runBare = [&] {
        QDir().mkpath(rebuilt);
        const Timing decoded = timed(QStringLiteral("xargs"),
                                     {QStringLiteral("-0"), QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-P"),
                                      QString::number(kJobs), djxl},
                                     environment, kTimeoutSeconds, pairs);
        const Timing hashed = timed(QStringLiteral("xargs"),
                                    {QStringLiteral("-0"), QStringLiteral("-P"), QString::number(kJobs), sha256sum},
                                    environment, kTimeoutSeconds, copies);
        if (!QDir(rebuilt).removeRecursively())
            fail(QStringLiteral("cannot remove ") + rebuilt);
        return Timing{decoded.wall + hashed.wall, decoded.cpu + hashed.cpu};
    };

    Timing pikora;
    Timing bare;
    for (int round = 0; round < rounds; ++round) {
        // Rotated, so that neither way always runs first.
        for (int way = 0; way < 2; ++way) {
            const bool pikoraWay = (way + round) % 2 == 0;
            const Timing timing = pikoraWay ? runPikora() : runBare();
            (pikoraWay ? pikora : bare).keepBest(timing);
            std::printf("  round %d  %-28s %7.2f s  (CPU %.2f s)\n", round + 1,
                        pikoraWay ? "pikora-cli check -j 2" : "xargs -P 2 djxl + sha256sum", timing.wall, timing.cpu);
            std::fflush(stdout);
        }
    }
    const double ratio = pikora.wall / bare.wall;
    std::printf("  check -j 2 / djxl + sha256sum  %6.3f  (%s the 5%% target; CPU %.3f)\n", ratio,
                ratio <= 1.05 ? "within" : "outside", pikora.cpu / bare.cpu);
    return 0;
}

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_check", argc, argv, run);
}
