#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QStringList>

// pikora-cli (or another of the programs) run to its end, as a user runs it from a shell.
struct CliRun
{
    int exitCode = -1; // -1: it crashed
    QByteArray out;
    QByteArray err;

    static CliRun run(const QStringList &arguments, const QByteArray &input = {},
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    static CliRun runProgram(const QString &program, const QStringList &arguments, const QByteArray &input,
                             const QProcessEnvironment &environment);

    // Every line printed with --json; a line that is no JSON object reads as an empty one.
    QList<QJsonObject> jobs() const;
    // The jobs by source path.
    QHash<QString, QJsonObject> bySource() const;
};
