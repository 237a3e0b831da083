// Per-photo overhead: many small JPEGs compressed by pikora-cli with two jobs against the bare
// cjxl run two at a time by xargs with the same flags. The photos are made once from the
// sample photos and kept in the build folder.
//
// bench_smallphotos [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_PHOTOS sets how many photos (default 1500), BENCH_ROUNDS how many rounds (default 1;
// the best time of each way counts), BENCH_EFFORT the effort (default 7).
#include "benchsetting.h"
#include "clibench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>

using CliBench::fail;
using CliBench::Timing;
using CliBench::timed;

namespace {

constexpr int kQuality = 85;
constexpr int kJobs = 2;
constexpr int kTimeoutSeconds = 3600;

// The photos, made once: ~35 KB JPEGs scaled from the sample photos.
QStringList makePhotos(const QString &folder, int count)
{
    const QStringList samples = QDir(QStringLiteral(PIKORA_BENCH_DATA_DIR "/jpeg/cameras"))
                                    .entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (samples.isEmpty())
        fail(QStringLiteral("no sample photos"));
    QDir().mkpath(folder);
    QStringList names;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("small_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        names.append(name);
        const QString path = folder + QLatin1Char('/') + name;
        if (QFileInfo::exists(path))
            continue;
        const QImage sample(QStringLiteral(PIKORA_BENCH_DATA_DIR "/jpeg/cameras/") + samples.at(i % samples.size()));
        // Slightly different sizes, so no two photos are the same.
        const int width = 620 + (i % 40);
        const QImage scaled = sample.convertToFormat(QImage::Format_RGB32)
                                  .scaled(width, width * 3 / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!scaled.save(path, "JPEG", kQuality))
            fail(QStringLiteral("cannot write ") + path);
    }
    return names;
}

QString freshCopy(const QString &from, const QStringList &names, const QString &to)
{
    QDir(to).removeRecursively();
    QDir().mkpath(to);
    for (const QString &name : names) {
        if (!QFile::copy(from + QLatin1Char('/') + name, to + QLatin1Char('/') + name))
            fail(QStringLiteral("cannot copy ") + name);
    }
    return to;
}

} // namespace

int run(int argc, char **argv)
{
    const CliBench::Programs programs = CliBench::findPrograms(argc, argv);
    const int photos = benchSetting("BENCH_PHOTOS", 1500);
    const int rounds = benchSetting("BENCH_ROUNDS", 1);
    const int effort = benchSetting("BENCH_EFFORT", 7);

    const QString cache = QCoreApplication::applicationDirPath() + QStringLiteral("/smallphotos-cache");
    QElapsedTimer clock;
    clock.start();
    const QStringList names = makePhotos(cache, photos);
    qint64 bytes = 0;
    for (const QString &name : names)
        bytes += QFileInfo(cache + QLatin1Char('/') + name).size();
    std::printf("bench_smallphotos: %d JPEGs, %.1f KB on average, ready in %.1f s\n", photos,
                double(bytes) / photos / 1000.0, double(clock.nsecsElapsed()) / 1e9);
    std::fflush(stdout);

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-small-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    QProcessEnvironment environment = CliBench::isolatedEnvironment(dir.path());
    const QString run = dir.path() + QStringLiteral("/run");

    Timing pikora;
    Timing bare;
    for (int round = 0; round < rounds; ++round) {
        for (int way = 0; way < 2; ++way) {
            const QString folder = freshCopy(cache, names, run);
            Timing timing;
            const bool pikoraWay = (way + round) % 2 == 0;
            if (pikoraWay) {
                timing = timed(programs.cli,
                               {QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"),
                                QString::number(kJobs), QStringLiteral("-e"), QString::number(effort),
                                QStringLiteral("-o"), QStringLiteral("keep"), QStringLiteral("--cjxl"), programs.cjxl,
                                folder},
                               environment, kTimeoutSeconds);
                pikora.keepBest(timing);
            } else {
                QByteArray pairs;
                for (const QString &name : names) {
                    pairs += QFile::encodeName(folder + QLatin1Char('/') + name) + '\0';
                    pairs += QFile::encodeName(folder + QLatin1Char('/') + QFileInfo(name).completeBaseName()
                                               + QStringLiteral(".jxl"))
                        + '\0';
                }
                timing = timed(QStringLiteral("xargs"),
                               {QStringLiteral("-0"), QStringLiteral("-n"), QStringLiteral("2"), QStringLiteral("-P"),
                                QString::number(kJobs), programs.cjxl, QStringLiteral("--lossless_jpeg=1"),
                                QStringLiteral("-q"), QStringLiteral("100"), QStringLiteral("-e"),
                                QString::number(effort)},
                               environment, kTimeoutSeconds, pairs);
                bare.keepBest(timing);
            }
            std::printf("  round %d  %-22s %7.2f s  (CPU %.2f s)\n", round + 1,
                        pikoraWay ? "pikora-cli -j 2" : "xargs -P 2 cjxl", timing.wall, timing.cpu);
            std::fflush(stdout);
            int outputs = 0;
            for (const QString &name : names)
                outputs += QFileInfo::exists(folder + QLatin1Char('/') + QFileInfo(name).completeBaseName()
                                             + QStringLiteral(".jxl"))
                    ? 1
                    : 0;
            if (outputs != photos)
                fail(QStringLiteral("%1 of %2 outputs written").arg(outputs).arg(photos));
        }
    }
    const double ratio = pikora.wall / bare.wall;
    std::printf("  pikora -j 2 / xargs -P 2  %6.3f  (%s the 5%% target; CPU %.3f)\n", ratio,
                ratio <= 1.05 ? "within" : "outside", pikora.cpu / bare.cpu);
    return 0;
}

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_smallphotos", argc, argv, run);
}
