#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
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
