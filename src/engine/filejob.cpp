#include "filejob.h"

#include "jxlcontainer.h"
#include "outputfiles.h"
#include "toolrun.h"
#include "verifier.h"

#include <QFile>
#include <QFileInfo>
#include <QFuture>
#include <QtConcurrent>

namespace {

// djxl says so when a file has no JPEG bitstream to rebuild and it encodes new pixels instead.
bool reportsPixelFallback(const QByteArray &stderrText)
{
    return stderrText.contains("Retrying with --pixels_to_jpeg") || stderrText.contains("Decoded to pixels");
}

} // namespace

FileJob::FileJob(const TaskItem &task, const AppSettings &settings, QObject *parent)
    : QObject(parent)
    , m_original(task)
    , m_settings(settings)
    , m_task(task)
    , m_source(task.sourceURL.toLocalFile())
{
}

FileJob::~FileJob()
{
    if (!m_finished)
        m_cancelled->store(true);
    delete m_verification;
    delete m_run;
    if (!m_finished && !m_committing && !m_temporary.isEmpty())
        QFile::remove(m_temporary);
}

QString FileJob::reconstructableJXLText()
{
    return QStringLiteral("由 JPEG 无损转换的 JXL");
}

void FileJob::start()
{
    m_task.status = TaskStatus::processing;
    publish();
    m_clock.start();

    m_wanted = m_task.destinationURL ? m_task.destinationURL->toLocalFile()
                                     : OutputFiles::withExtension(m_source, compressing() ? QStringLiteral("jxl")
                                                                                          : QStringLiteral("jpg"));
    m_task.destinationURL = QUrl::fromLocalFile(m_wanted);
    m_temporary = OutputFiles::temporarySibling(m_wanted);

    if (compressing()) {
        runTool();
        return;
    }
    // Without reconstruction data djxl still succeeds, but with a newly encoded, lossy JPEG.
    QtConcurrent::run(&JXLContainer::inspect, m_source).then(this, [this](JXLContainer::Info info) {
        if (m_cancelled->load())
            return endCancelled();
        if (info.kind != JXLContainer::Kind::unreadable && !info.hasJpegReconstruction)
            return fail(JXLError::invalidFormat(reconstructableJXLText()));
        runTool(); // a missing or unreadable source is reported by the tool run, after the tool search
    });
}

void FileJob::runTool()
{
    m_run = compressing()
        ? ToolRun::transcodeJPEGtoJXL(m_source, m_temporary, m_settings.compressionEffort,
                                      m_settings.customCjxlPath, this)
        : ToolRun::transcodeJXLtoJPEG(m_source, m_temporary, m_settings.customDjxlPath, this);
    connect(m_run, &ToolRun::finished, this, &FileJob::onToolFinished);
    m_run->start();
}

void FileJob::onToolFinished()
{
    switch (m_run->outcome()) {
    case ToolRun::Outcome::cancelled:
        return endCancelled();
    case ToolRun::Outcome::failed:
        return fail(*m_run->error());
    case ToolRun::Outcome::succeeded:
        break;
    }
    if (m_cancelled->load())
        return endCancelled();
    if (!QFileInfo::exists(m_temporary)) // the tool claimed success but wrote nothing
        return fail(JXLError::fileNotFound(m_wanted));
    if (!compressing()) {
        if (reportsPixelFallback(m_run->standardError()))
            return fail(JXLError::invalidFormat(reconstructableJXLText()));
        return commit();
    }
    const bool disposes = m_settings.deleteStrategy != DeleteStrategy::keepOriginal;
    if (!disposes && !m_settings.verifyLossless)
        return commit();

    m_task.status = TaskStatus::verifying;
    publish();
    m_verification = new Verification(m_source, m_temporary, m_settings.customDjxlPath, this);
    connect(m_verification, &Verification::finished, this, &FileJob::onVerificationFinished);
    m_verification->start();
}

void FileJob::onVerificationFinished()
{
    switch (m_verification->outcome()) {
    case Verification::Outcome::cancelled:
        return endCancelled();
    case Verification::Outcome::failed:
        return fail(*m_verification->error());
    case Verification::Outcome::passed:
        m_task.isVerified = true;
        return commit();
    }
}

void FileJob::commit()
{
    if (m_cancelled->load())
        return endCancelled();
    m_committing = true;
    const QString source = m_source;
    const QString temporary = m_temporary;
    const QString wanted = m_wanted;
    const auto cancelled = m_cancelled;
    QtConcurrent::run([source, temporary, wanted, cancelled] {
        if (const std::optional<JXLError> error = OutputFiles::finishTemporary(temporary, source)) {
            QFile::remove(temporary);
            OutputFiles::PlacementResult result;
            result.error = error;
            return result;
        }
        return OutputFiles::place(temporary, wanted, cancelled);
    }).then(this, [this](OutputFiles::PlacementResult result) {
        m_committing = false;
        m_temporary.clear(); // placed or removed by the worker
        if (result.cancelled)
            return endCancelled();
        if (result.error)
            return fail(*result.error);

        m_task.destinationURL = QUrl::fromLocalFile(result.placement->path);
        m_task.compressedSize = result.placement->size;
        if (!compressing())
            m_task.isVerified = true; // the reconstruction data was there and djxl used it
        const DeleteStrategy strategy = m_settings.deleteStrategy;
        const QString source = m_source;
        QtConcurrent::run([source, strategy] { return OutputFiles::disposeSource(source, strategy); })
            .then(this, [this](std::optional<QString>) {
                // A source that could not be trashed or deleted stays where it was; the job succeeded.
                m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
                m_task.status = TaskStatus::completed;
                conclude();
            });
    });
}

void FileJob::cancel()
{
    if (m_finished || m_cancelled->load())
        return;
    m_cancelled->store(true);
    if (m_verification)
        m_verification->cancel();
    else if (m_run)
        m_run->cancel();
    // Otherwise a worker step is under way; it sees the flag when it returns.
}

void FileJob::fail(const JXLError &error)
{
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    m_task.duration = double(m_clock.nsecsElapsed()) / 1e9;
    m_task.status = TaskStatus::failed;
    m_task.errorMessage = error.errorDescription();
    conclude();
}

void FileJob::endCancelled()
{
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    m_task = m_original;
    m_task.status = TaskStatus::pending;
    conclude();
}

void FileJob::conclude()
{
    m_finished = true;
    // Queued: a continuation may run inside start(), and callers must see start() return first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            publish();
            Q_EMIT finished(m_task);
        },
        Qt::QueuedConnection);
}

void FileJob::publish()
{
    Q_EMIT updated(m_task);
}
