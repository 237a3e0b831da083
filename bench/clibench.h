#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <cstdio>

// What the benchmarks that time pikora-cli against cjxl share: leaving with an error (the
// temporary folders are removed on the way out) and finding the two programs.
namespace CliBench {

struct Failure
{
    QString message;
};

[[noreturn]] inline void fail(const QString &message)
{
    throw Failure{message};
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
