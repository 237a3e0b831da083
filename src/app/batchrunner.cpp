#include "batchrunner.h"

#include "batchcontroller.h"
#include "settingsstore.h"
#include "workspace.h"

BatchRunner::BatchRunner(BatchController *batch, Workspace *workspace, SettingsStore *settings, QObject *parent)
    : QObject(parent)
    , m_batch(batch)
    , m_workspace(workspace)
    , m_settings(settings)
{
    const auto applySettings = [this] { m_batch->setJobSettings(m_settings->jobSettings()); };
    applySettings();
    connect(settings, &SettingsStore::jobSettingsChanged, this, applySettings);
    connect(workspace, &Workspace::removing, this, &BatchRunner::stopRunningJobs);
    connect(workspace, &Workspace::retried, this, &BatchRunner::startCurrentProcessing);
    connect(batch, &BatchController::stateChanged, this, [this] {
        const bool processing = m_batch->isRunning();
        if (processing == m_isProcessing)
            return;
        m_isProcessing = processing;
        Q_EMIT isProcessingChanged();
    });
    connect(batch, &BatchController::refused, this, [this](ConversionMode, const DiskSpaceGuard::CapacityCheck &check) {
        m_diskWarningMessage = DiskSpaceGuard::warningMessage(check);
        Q_EMIT diskWarningMessageChanged();
    });
}

void BatchRunner::clearDiskWarning()
{
    if (!m_diskWarningMessage)
        return;
    m_diskWarningMessage.reset();
    Q_EMIT diskWarningMessageChanged();
}

void BatchRunner::startCurrentProcessing()
{
    m_batch->start(m_workspace->activeMode(), m_settings->batchWindowLimit());
}

void BatchRunner::cancel()
{
    m_batch->cancel();
    Q_EMIT cancelled();
}

void BatchRunner::stopRunningJobs(const QSet<QUuid> &ids)
{
    // A removed job must not go on to trash or delete an original the user no longer sees.
    for (const QUuid &id : ids) {
        if (m_batch->isHeld(id))
            m_batch->cancelJob(id);
    }
}
