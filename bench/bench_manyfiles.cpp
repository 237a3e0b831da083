// Memory over an archive: pikora-cli compresses a tree of tiny photos with a stand-in encoder, at
// a tenth of the size and at the full size, and the growth of its peak memory between the two is
// divided by the photos added. Fixed costs (libraries, the first part read) cancel out; what is
// left is what the run holds per photo.
//
// bench_manyfiles [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_FILES photos of the full size (default 20000; 200000 for an archive).
#include "benchsetting.h"
#include "clibench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

using CliBench::fail;
using CliBench::kFakeEncoder;
using CliBench::writeFile;

namespace {

constexpr int kPhotosPerFolder = 1000;
constexpr double kTargetBytesPerPhoto = 200;

// photos tiny JPEGs in folders of a thousand, each with bytes of its own.
void makeTree(const QString &root, int photos)
{
    QByteArray jpeg(200, 'j');
    jpeg.replace(0, 3, QByteArrayView("\xFF\xD8\xFF", 3));
    for (int i = 0; i < photos; ++i) {
        const QString folder = root + QStringLiteral("/f%1").arg(i / kPhotosPerFolder, 4, 10, QLatin1Char('0'));
        if (i % kPhotosPerFolder == 0)
            QDir().mkpath(folder);
        const QByteArray number = QByteArray::number(i);
        writeFile(folder + QStringLiteral("/IMG_%1.jpg").arg(i, 6, 10, QLatin1Char('0')),
                  jpeg.left(jpeg.size() - number.size()) + number);
    }
}

struct Measure
{
    double seconds = 0;
    qint64 peakBytes = 0;
};

// Runs this program again as a measurer, so the peak memory of its one child is pikora-cli's
// alone (a process's peak over its children never goes down).
Measure measured(const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess measurer;
    measurer.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    measurer.start(QCoreApplication::applicationFilePath(), QStringList{QStringLiteral("--measure")} + arguments);
    if (!measurer.waitForFinished(24 * 3600 * 1000) || measurer.exitCode() != 0)
        fail(QStringLiteral("pikora-cli failed: ") + QString::fromLocal8Bit(measurer.readAllStandardError()));
    Measure measure;
    measure.seconds = double(clock.nsecsElapsed()) / 1e9;
    measure.peakBytes = measurer.readAllStandardOutput().trimmed().toLongLong() * 1024;
    return measure;
}

// The measurer: runs pikora-cli with the arguments and prints its peak resident memory in KiB.
int measure(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 3; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QProcess cli;
    cli.setStandardOutputFile(QProcess::nullDevice());
    cli.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    cli.start(QString::fromLocal8Bit(argv[2]), arguments);
    if (!cli.waitForFinished(-1) || cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0)
        return 1;
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("%ld\n", usage.ru_maxrss);
    return 0;
}

int run(int argc, char **argv)
{
    if (argc > 2 && qstrcmp(argv[1], "--measure") == 0)
        return measure(argc, argv);
    QString cli = argc > 1 ? QString::fromLocal8Bit(argv[1])
                           : QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/pikora-cli"));
    if (!QFileInfo(cli).isExecutable())
        fail(QStringLiteral("no pikora-cli at ") + cli);
    const int full = benchSetting("BENCH_FILES", 20000);
    const int tenth = std::max(1, full / 10);

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-many-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    QProcessEnvironment environment = CliBench::isolatedEnvironment(dir.path());
    const QString encoder = dir.path() + QStringLiteral("/cjxl");
    writeFile(encoder, kFakeEncoder);
    QFile::setPermissions(encoder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    std::printf("bench_manyfiles: pikora-cli compress -j 2 with a stand-in encoder over %d and %d photos\n", tenth, full);
    std::fflush(stdout);
    Measure measures[2];
    const int sizes[2] = {tenth, full};
    for (int i = 0; i < 2; ++i) {
        const QString tree = dir.path() + QStringLiteral("/tree%1").arg(i);
        makeTree(tree, sizes[i]);
        measures[i] = measured({cli, QStringLiteral("compress"), QStringLiteral("-q"), QStringLiteral("-j"),
                                QStringLiteral("2"), QStringLiteral("-o"), QStringLiteral("keep"),
                                QStringLiteral("--cjxl"), encoder, tree},
                               environment);
        QDir(tree).removeRecursively();
        std::printf("  %7d photos  %8.1f s  peak %6.1f MB\n", sizes[i], measures[i].seconds,
                    double(measures[i].peakBytes) / 1e6);
        std::fflush(stdout);
    }
    const double perPhoto = double(measures[1].peakBytes - measures[0].peakBytes) / double(full - tenth);
    std::printf("  peak growth per photo  %6.0f bytes  (%s the %.0f-byte target)\n", perPhoto,
                perPhoto <= kTargetBytesPerPhoto ? "within" : "outside", kTargetBytesPerPhoto);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_manyfiles", argc, argv, run);
}
