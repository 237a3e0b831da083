#pragma once

#include "jxlerror.h"

#include <QObject>
#include <QProcess>
#include <QStringList>

#include <optional>

class QTimer;

// One asynchronous run of cjxl or djxl. Finds the tool, checks the source, creates the output
// folder and runs the tool with both pipes drained. Always reports through finished(), also for
// failures found before the tool starts, and never blocks the thread it lives on.
class ToolRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToolRun)

public:
    enum class Outcome { succeeded, failed, cancelled };

    static ToolRun *transcodeJPEGtoJXL(const QString &source, const QString &destination, int effort,
                                       const QString &customCjxlPath, QObject *parent = nullptr);
    static ToolRun *transcodeJXLtoJPEG(const QString &source, const QString &destination,
                                       const QString &customDjxlPath, QObject *parent = nullptr);
    ~ToolRun() override;

    // Why the tool could not read path (missing, unreadable, not a regular file), opened the way
    // the tool will open it but without blocking on a pipe; nullopt when it can be read.
    static std::optional<QString> unreadableReason(const QString &path);

    void start();
    // Terminates the tool (killed after a grace period) and reports cancelled once it has exited.
    void cancel();

    Outcome outcome() const { return m_outcome; }
    const std::optional<JXLError> &error() const { return m_error; }
    // The end of what the tool wrote to its standard error: at most the last 64 KiB.
    QByteArray standardError() const { return m_stderr; }

    static constexpr qsizetype standardErrorLimit = 64 * 1024;

Q_SIGNALS:
    void finished(ToolRun::Outcome outcome);

private:
    ToolRun(QString toolName, QString customPath, QString source, QString destination, QStringList arguments,
            QObject *parent);
    void finish(Outcome outcome, std::optional<JXLError> error = std::nullopt);
    void onProcessFinished(int exitCode, QProcess::ExitStatus status);
    void onProcessError(QProcess::ProcessError error);
    void appendStandardError(const QByteArray &bytes);
    void explainFailure(int exitCode);

    QString m_toolName;
    QString m_customPath;
    QString m_source;
    QString m_destination;
    QStringList m_arguments;
    QProcess *m_process = nullptr;
    QTimer *m_killTimer = nullptr;
    QByteArray m_stderr;
    bool m_stderrCut = false;
    bool m_cancelRequested = false;
    bool m_finished = false;
    Outcome m_outcome = Outcome::failed;
    std::optional<JXLError> m_error;
};
