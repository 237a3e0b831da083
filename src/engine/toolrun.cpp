#include "toolrun.h"

#include "jpegdiagnosis.h"
#include "toolcommands.h"
#include "whenready.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFuture>
#include <QStringDecoder>
#include <QTimer>
#include <QtConcurrent>

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr int kKillGraceMs = 2000;

QString decodeToolMessage(QByteArray bytes, bool cut)
{
    if (cut) {
        // The kept tail may start inside a multi-byte character.
        qsizetype skip = 0;
        while (skip < bytes.size() && skip < 3 && (quint8(bytes[skip]) & 0xC0) == 0x80)
            ++skip;
        bytes.remove(0, skip);
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError())
        return QCoreApplication::translate("ToolRun", "未知错误");
    return cut ? QStringLiteral("…") + text.trimmed() : text.trimmed();
}

} // namespace

std::optional<QString> ToolRun::unreadableReason(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    struct stat info;
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    if (!regular)
        return QCoreApplication::translate("ToolRun", "不是普通文件");
    return std::nullopt;
}

namespace {

// What the JPEG's own structure says cjxl cannot take; empty when it says nothing.
QString jpegRefusalReason(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    if (file.size() == 0)
        return JpegDiagnosis::refusalReason({});
    if (const uchar *mapped = file.map(0, file.size()))
        return JpegDiagnosis::refusalReason(QByteArrayView(mapped, file.size()));
    return JpegDiagnosis::refusalReason(file.readAll());
}

// Whether a failed run ran out of room: the tool says so (in its words, which follow the
// locale we gave it), or the volume it wrote to has next to nothing left.
bool saysOutOfSpace(const QByteArray &stderrText)
{
    return stderrText.contains("No space left on device") || stderrText.contains(std::strerror(ENOSPC));
}

bool volumeNearlyFull(const QString &destination)
{
    constexpr quint64 kNearlyFull = 1024 * 1024;
    struct statvfs volume;
    return ::statvfs(QFile::encodeName(QFileInfo(destination).absolutePath()).constData(), &volume) == 0
        && quint64(volume.f_bavail) * volume.f_frsize < kNearlyFull;
}

struct FailureCause
{
    QString jpegProblem; // cjxl: what the JPEG's structure says the tool cannot take
    bool outOfSpace = false;
};

FailureCause causeOfFailure(const QString &tool, const QString &source, const QString &destination,
                            const QByteArray &stderrText)
{
    FailureCause cause;
    if (tool == QLatin1String("cjxl"))
        cause.jpegProblem = jpegRefusalReason(source);
    // A photo the tool cannot take fails on a full volume too; only the tool's words say otherwise.
    cause.outOfSpace = saysOutOfSpace(stderrText) || (cause.jpegProblem.isEmpty() && volumeNearlyFull(destination));
    if (cause.outOfSpace)
        cause.jpegProblem.clear();
    return cause;
}

} // namespace

ToolRun *ToolRun::transcodeJPEGtoJXL(const QString &source, const QString &destination, int effort,
                                     const QString &customCjxlPath, QObject *parent)
{
    return new ToolRun(QStringLiteral("cjxl"), customCjxlPath, source, destination,
                       ToolCommands::cjxlArguments(source, destination, effort), parent);
}

ToolRun *ToolRun::transcodeJXLtoJPEG(const QString &source, const QString &destination,
                                     const QString &customDjxlPath, QObject *parent)
{
    return new ToolRun(QStringLiteral("djxl"), customDjxlPath, source, destination,
                       ToolCommands::djxlArguments(source, destination), parent);
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
    const std::optional<QString> program = ToolCommands::resolveToolPath(m_toolName, m_customPath);
    if (!program) {
        finish(Outcome::failed, JXLError::toolNotFound(m_toolName));
        return;
    }
    if (!QFileInfo::exists(m_source)) {
        finish(Outcome::failed, JXLError::fileNotFound(m_source));
        return;
    }
    if (const std::optional<QString> reason = unreadableReason(m_source)) {
        finish(Outcome::failed, JXLError::unreadable(m_source, *reason));
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
            [this] { appendStandardError(m_process->readAllStandardError()); });
    connect(m_process, &QProcess::finished, this, &ToolRun::onProcessFinished);
    connect(m_process, &QProcess::errorOccurred, this, &ToolRun::onProcessError);
    // A tool must not outlive us: after a crash or SIGKILL of this process it would run on,
    // writing a file nobody will ever place or remove. The signal follows the starting thread,
    // so runs are started from long-lived threads only (the GUI or main thread), never the pool.
    const pid_t parent = ::getpid();
    m_process->setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // the parent died before the request took effect
            ::_exit(127);
    });
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

void ToolRun::appendStandardError(const QByteArray &bytes)
{
    m_stderr += bytes;
    if (m_stderr.size() > standardErrorLimit) {
        // The end of a long message is where a tool says what went wrong.
        m_stderr.remove(0, m_stderr.size() - standardErrorLimit);
        m_stderrCut = true;
    }
}

void ToolRun::onProcessFinished(int exitCode, QProcess::ExitStatus status)
{
    appendStandardError(m_process->readAllStandardError());
    if (m_cancelRequested) {
        finish(Outcome::cancelled);
        return;
    }
    if (status == QProcess::NormalExit && exitCode == 0) {
        finish(Outcome::succeeded);
        return;
    }
    const QString message = decodeToolMessage(m_stderr, m_stderrCut);
    if (status == QProcess::CrashExit) {
        // On Unix, the exit code of a crashed process is the signal that ended it.
        finish(Outcome::failed, JXLError::killedBySignal(m_toolName, exitCode, message));
        return;
    }
    explainFailure(exitCode);
}

void ToolRun::explainFailure(int exitCode)
{
    // Reading the markers of a large photo and asking a volume for its room are file work: off this thread.
    whenReady(this, QtConcurrent::run(&causeOfFailure, m_toolName, m_source, m_destination, m_stderr),
        [this, exitCode](const FailureCause &cause) {
            if (m_cancelRequested) {
                finish(Outcome::cancelled);
                return;
            }
            JXLError error = JXLError::executionFailed(m_toolName, exitCode, decodeToolMessage(m_stderr, m_stderrCut),
                                                       cause.jpegProblem);
            if (cause.outOfSpace) {
                error = error.withHeadline(QCoreApplication::translate("ToolRun", "磁盘空间已满，无法写入 %1")
                                               .arg(QFileInfo(m_destination).absolutePath()));
            }
            finish(Outcome::failed, error);
        });
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
