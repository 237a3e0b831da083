#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <limits>

// What the benchmarks that time pikora-cli against cjxl share: leaving with an error (the
// temporary folders are removed on the way out), finding the two programs and timing a run.
namespace CliBench {

struct Failure
{
    QString message;
};

[[noreturn]] inline void fail(const QString &message)
{
    throw Failure{message};
}

// Writes the smallest JXL container that carries a JPEG reconstruction box: what a job checks
// for in a fresh output.
inline const char kFakeEncoder[] = "#!/bin/sh\n"
                                   "printf '\\000\\000\\000\\014JXL \\015\\012\\207\\012\\000\\000\\000\\010jbrd' > \"$2\"\n";

inline void writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        fail(QStringLiteral("cannot write ") + path);
}

// This environment with the XDG folders below root, so that a run's stored settings and
// counters are its own and never the user's.
inline QProcessEnvironment isolatedEnvironment(const QString &root)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString folder = root + QStringLiteral("/home/") + QString::fromLatin1(variable).toLower();
        QDir().mkpath(folder);
        environment.insert(QString::fromLatin1(variable), folder);
    }
    return environment;
}

struct Programs
{
    QString cli;
    QString cjxl;
};

// pikora-cli from the first argument, else the one built beside this program; cjxl from PATH.
inline Programs findPrograms(int argc, char **argv)
{
    Programs programs;
    programs.cli = argc > 1 ? QString::fromLocal8Bit(argv[1])
                            : QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/pikora-cli"));
    if (!QFileInfo(programs.cli).isExecutable())
        fail(QStringLiteral("no pikora-cli at ") + programs.cli);
    programs.cjxl = QStandardPaths::findExecutable(QStringLiteral("cjxl"));
    if (programs.cjxl.isEmpty())
        fail(QStringLiteral("cjxl is not on PATH"));
    return programs;
}

// Seconds on the wall clock, and user and system seconds of the program and the tools it waited for.
struct Timing
{
    double wall = std::numeric_limits<double>::infinity();
    double cpu = std::numeric_limits<double>::infinity();

    // Other work on the machine only ever adds time: the best of several runs counts.
    void keepBest(const Timing &run)
    {
        wall = std::min(wall, run.wall);
        cpu = std::min(cpu, run.cpu);
    }
};

inline double childCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs one program to its end, input on its standard input. CPU time is counted too: it hardly
// changes when other work shares the machine, so it shows pikora's own overhead when the wall
// clock is noisy.
inline Timing timed(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                    int timeoutSeconds, const QByteArray &input = {})
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForStarted(-1))
        fail(QStringLiteral("cannot start ") + program);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    // A hang must end the benchmark, not stall `make bench` for ever.
    if (!process.waitForFinished(timeoutSeconds * 1000)) {
        process.kill();
        process.waitForFinished(-1);
        fail(program + QStringLiteral(" did not finish within %1 s").arg(timeoutSeconds));
    }
    const Timing timing{double(clock.nsecsElapsed()) / 1e9, childCpuSeconds() - cpuBefore};
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        fail(program + QStringLiteral(" failed (exit %1): ").arg(process.exitCode())
             + QString::fromLocal8Bit(process.readAllStandardError()));
    return timing;
}

// Runs the benchmark in an application; a failure is printed under its name and exits 1.
inline int runApp(const char *name, int argc, char **argv, int (*run)(int, char **))
{
    QCoreApplication app(argc, argv);
    try {
        return run(argc, argv);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(failure.message));
        return 1;
    }
}

} // namespace CliBench
