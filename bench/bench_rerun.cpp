// Times a second run over photos that are already converted against the first run: with the
// originals kept (every job is skipped) and with them trashed (every existing JXL is proven
// once more, nothing is encoded). A wrapper counts the cjxl runs. Prints the ratios.
//
// bench_rerun [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_PHOTOS sets how many photos (default 60; 2 to 12 megapixels, made from the sample
// photos); BENCH_KEEP keeps the temporary folder.
#include "benchsetting.h"
#include "clibench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

using CliBench::fail;

namespace {

constexpr int kQuality = 90;

struct Result
{
    double seconds = 0;
    QByteArray out;
};

Result runCli(const QString &cli, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(cli, arguments);
    if (!process.waitForFinished(3600 * 1000))
        fail(QStringLiteral("pikora-cli did not finish"));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        fail(QStringLiteral("pikora-cli failed (exit %1): ").arg(process.exitCode())
             + QString::fromLocal8Bit(process.readAllStandardError()));
    return {seconds, process.readAllStandardOutput()};
}

int countOf(const QByteArray &jsonLines, const QByteArray &needle)
{
    return int(jsonLines.count(needle));
}

} // namespace

int run(int argc, char **argv)
{
    const CliBench::Programs programs = CliBench::findPrograms(argc, argv);
    const int photos = benchSetting("BENCH_PHOTOS", 60);

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-rerun-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    const QString root = dir.path();
    if (qEnvironmentVariableIsSet("BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("bench_rerun: keeping %s\n", qPrintable(root));
    }
    // Counters and the trash of a configuration of their own, never the user's.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString folder = root + QStringLiteral("/home/") + QString::fromLatin1(variable).toLower();
        QDir().mkpath(folder);
        environment.insert(QString::fromLatin1(variable), folder);
    }

    const QStringList samples = QDir(QStringLiteral(PIKORA_BENCH_DATA_DIR "/jpeg/cameras"))
                                    .entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    if (samples.isEmpty())
        fail(QStringLiteral("no sample photos in " PIKORA_BENCH_DATA_DIR));
    const QString set = root + QStringLiteral("/photos");
    QDir().mkpath(set);
    std::vector<int> indices(static_cast<size_t>(photos));
    std::iota(indices.begin(), indices.end(), 0);
    std::atomic<bool> written{true};
    std::atomic<qint64> pixels{0};
    QElapsedTimer clock;
    clock.start();
    QtConcurrent::blockingMap(indices, [&](int i) {
        const QImage sample(QStringLiteral(PIKORA_BENCH_DATA_DIR "/jpeg/cameras/") + samples.at(i % samples.size()));
        // 2 to 12 megapixels, 4:3.
        const double megapixels = photos > 1 ? 2.0 + 10.0 * i / (photos - 1) : 6.0;
        const int width = int(std::sqrt(megapixels * 1e6 * 4.0 / 3.0));
        const QImage scaled = sample.convertToFormat(QImage::Format_RGB32)
                                  .scaled(width, width * 3 / 4, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        pixels += qint64(scaled.width()) * scaled.height();
        if (scaled.isNull()
            || !scaled.save(set + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0')), "JPEG", kQuality))
            written = false;
    });
    if (!written)
        fail(QStringLiteral("cannot write the JPEGs (is the Qt JPEG plugin installed?)"));
    std::printf("bench_rerun: %d JPEGs of 2-12 MP (%.0f MP in all), generated in %.1f s\n", photos,
                double(pixels.load()) / 1e6, double(clock.nsecsElapsed()) / 1e9);

    const QString runs = root + QStringLiteral("/cjxl-runs");
    const QString wrapper = root + QStringLiteral("/counting-cjxl");
    {
        QFile script(wrapper);
        if (!script.open(QIODevice::WriteOnly))
            fail(QStringLiteral("cannot write ") + wrapper);
        script.write("#!/bin/sh\necho run >> '" + QFile::encodeName(runs) + "'\nexec '"
                     + QFile::encodeName(programs.cjxl) + "' \"$@\"\n");
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    const auto cjxlRuns = [&] {
        QFile file(runs);
        return file.open(QIODevice::ReadOnly) ? int(file.readAll().count('\n')) : 0;
    };
    const auto compress = [&](const QString &originals) {
        return runCli(programs.cli,
                      {QStringLiteral("compress"), QStringLiteral("--json"), QStringLiteral("-o"), originals,
                       QStringLiteral("--cjxl"), wrapper, set},
                      environment);
    };

    const Result first = compress(QStringLiteral("keep"));
    const int encoded = cjxlRuns();
    std::printf("  first run, originals kept   %8.2f s  (%d cjxl runs, %d completed)\n", first.seconds, encoded,
                countOf(first.out, "\"status\":\"completed\""));
    std::fflush(stdout);
    const Result kept = compress(QStringLiteral("keep"));
    const int keptEncodes = cjxlRuns() - encoded;
    std::printf("  second run, originals kept  %8.2f s  (%d cjxl runs, %d skipped)\n", kept.seconds, keptEncodes,
                countOf(kept.out, "\"status\":\"skipped\""));
    std::fflush(stdout);
    const Result trashed = compress(QStringLiteral("trash"));
    const int trashEncodes = cjxlRuns() - encoded - keptEncodes;
    std::printf("  second run, originals trashed %6.2f s  (%d cjxl runs, %d reused)\n", trashed.seconds, trashEncodes,
                countOf(trashed.out, "\"reused\":true"));

    const double keptRatio = kept.seconds / first.seconds;
    const double trashRatio = trashed.seconds / first.seconds;
    const bool allSkipped = countOf(kept.out, "\"status\":\"skipped\"") == photos;
    const bool allReused = countOf(trashed.out, "\"reused\":true") == photos;
    std::printf("  kept re-run / first run     %6.3f  (%s the 5%% target)\n", keptRatio,
                keptRatio <= 0.05 ? "within" : "outside");
    std::printf("  trash re-run / first run    %6.3f  (proofs only; %d encodes, target 0)\n", trashRatio, trashEncodes);
    if (!allSkipped || !allReused || keptEncodes != 0 || trashEncodes != 0) {
        std::fprintf(stderr, "bench_rerun: a re-run converted photos again\n");
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_rerun", argc, argv, run);
}
