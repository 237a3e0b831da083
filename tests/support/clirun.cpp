#include "clirun.h"

#include <QJsonDocument>
#include <QProcess>
#include <QtGlobal>

CliRun CliRun::run(const QStringList &arguments, const QByteArray &input, const QProcessEnvironment &environment)
{
    return runProgram(QStringLiteral(PIKORA_CLI_PATH), arguments, input, environment);
}

CliRun CliRun::runProgram(const QString &program, const QStringList &arguments, const QByteArray &input,
                          const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        process.kill(); // the suite stops here; the program must not outlive it
        process.waitForFinished();
        qFatal("%s did not finish", qPrintable(program));
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QList<QJsonObject> CliRun::jobs() const
{
    QList<QJsonObject> list;
    for (const QByteArray &line : out.split('\n')) {
        if (!line.trimmed().isEmpty())
            list.append(QJsonDocument::fromJson(line).object());
    }
    return list;
}

QHash<QString, QJsonObject> CliRun::bySource() const
{
    QHash<QString, QJsonObject> map;
    for (const QJsonObject &job : jobs())
        map.insert(job.value(QStringLiteral("source")).toString(), job);
    return map;
}
