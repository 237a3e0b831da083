#include "toolrun.h"

#include "jxlengine.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTimer>

namespace {

constexpr int kKillGraceMs = 2000;

QString decodeToolMessage(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return QStringLiteral("未知错误");
    return text.trimmed();
}

} // namespace

ToolRun *ToolRun::transcodeJPEGtoJXL(const QString &source, const QString &destination, int effort,
                                     const QString &customCjxlPath, QObject *parent)
{
    return new ToolRun(QStringLiteral("cjxl"), customCjxlPath, source, destination,
                       JXLEngine::cjxlArguments(source, destination, effort), parent);
}

ToolRun *ToolRun::transcodeJXLtoJPEG(const QString &source, const QString &destination,
                                     const QString &customDjxlPath, QObject *parent)
{
    return new ToolRun(QStringLiteral("djxl"), customDjxlPath, source, destination,
                       JXLEngine::djxlArguments(source, destination), parent);
}

ToolRun::ToolRun(QString toolName, QString customPath, QString source, QString destination, QStringList arguments,
                 QObject *parent)
    : QObject(parent)
    , m_toolName(std::move(toolName))
    , m_customPath(std::move(customPath))
    , m_source(std::move(source))
    , m_destination(std::move(destination))
    , m_arguments(std::move(arguments))
{
}

ToolRun::~ToolRun()
{
    // Never leave a tool running behind a destroyed job.
    if (m_process && m_process->state() != QProcess::NotRunning) {
        m_process->disconnect(this);
        m_process->kill();
        m_process->waitForFinished(kKillGraceMs);
    }
}

void ToolRun::start()
{
    const std::optional<QString> program = JXLEngine::resolveToolPath(m_toolName, m_customPath);
    if (!program) {
        finish(Outcome::failed, JXLError::toolNotFound(m_toolName));
        return;
    }
    if (!QFileInfo::exists(m_source)) {
        finish(Outcome::failed, JXLError::fileNotFound(m_source));
        return;
    }
    // Best effort: a folder that cannot be made shows up as the tool's own error.
    QDir().mkpath(QFileInfo(m_destination).absolutePath());

    m_process = new QProcess(this);
    m_process->setProgram(*program);
    m_process->setArguments(m_arguments);
    // The tools print progress on stdout now and then; drain it so a full pipe never stalls them.
    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] { m_process->readAllStandardOutput(); });
    connect(m_process, &QProcess::readyReadStandardError, this,
            [this] { m_stderr += m_process->readAllStandardError(); });
    connect(m_process, &QProcess::finished, this, &ToolRun::onProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &ToolRun::onProcessError);
    m_process->start(QIODevice::ReadOnly);
}

void ToolRun::cancel()
{
    if (m_finished || m_cancelRequested)
        return;
    m_cancelRequested = true;
    if (!m_process || m_process->state() == QProcess::NotRunning) {
        // Not started yet, or an early failure is already queued: report the cancel instead.
        if (!m_process)
            finish(Outcome::cancelled);
        return;
    }
    m_process->terminate();
    m_killTimer = new QTimer(this);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, this, [this] {
        if (m_process->state() != QProcess::NotRunning)
            m_process->kill();
    });
    m_killTimer->start(kKillGraceMs);
}

void ToolRun::onProcessFinished(int exitCode, QProcess::ExitStatus status)
{
    m_stderr += m_process->readAllStandardError();
    if (m_cancelRequested) {
        finish(Outcome::cancelled);
        return;
    }
    if (status == QProcess::NormalExit && exitCode == 0) {
        finish(Outcome::succeeded);
        return;
    }
    finish(Outcome::failed, JXLError::executionFailed(m_toolName, exitCode, decodeToolMessage(m_stderr)));
}

void ToolRun::onProcessError(QProcess::ProcessError error)
{
    // Only a failed start ends the run here; other errors are followed by finished().
    if (error != QProcess::FailedToStart)
        return;
    finish(m_cancelRequested ? Outcome::cancelled : Outcome::failed, JXLError::platform(m_process->errorString()));
}

void ToolRun::finish(Outcome outcome, std::optional<JXLError> error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_outcome = outcome;
    if (outcome == Outcome::failed)
        m_error = std::move(error);
    if (m_killTimer)
        m_killTimer->stop();
    // Queued, so that callers connected after start() still hear about early failures.
    QMetaObject::invokeMethod(this, [this, outcome] { Q_EMIT finished(outcome); }, Qt::QueuedConnection);
}
