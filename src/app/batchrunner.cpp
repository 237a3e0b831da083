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
    // A stored folder is used as it is: one that has gone refuses the batch instead of being made.
    // A batch keeps the folder its checks looked at to its end; a change serves the next one.
    const auto applyOutputFolder = [this] {
        if (!m_outputFolderPending || m_batch->isRunning() || m_batch->isPreparing())
            return;
        m_outputFolderPending = false;
        m_batch->setOutputFolder(m_settings->outputFolder(), BatchController::MissingFolder::refuse,
                                 m_settings->outputVolume());
    };
    applyOutputFolder();
    const auto outputFolderChanged = [this, applyOutputFolder] {
        m_outputFolderPending = true;
        applyOutputFolder();
    };
    connect(settings, &SettingsStore::outputFolderChanged, this, outputFolderChanged);
    connect(settings, &SettingsStore::outputVolumeChanged, this, outputFolderChanged);
    // A folder stored before volumes were remembered is remembered on the volume it is on now.
    connect(batch, &BatchController::outputVolumeFound, settings, &SettingsStore::rememberOutputVolume);
    connect(batch, &BatchController::stateChanged, this, applyOutputFolder);
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
        m_outputFolderMissing = false;
        m_diskWarningMessage = DiskSpaceGuard::warningMessage(check);
        Q_EMIT diskWarningMessageChanged();
    });
    connect(batch, &BatchController::outputFolderMissing, this, [this](ConversionMode, const QString &folder) {
        m_outputFolderMissing = true;
        m_diskWarningMessage = tr("输出文件夹不存在：%1。请连接它所在的磁盘，或在设置中另选输出位置。").arg(folder);
        Q_EMIT diskWarningMessageChanged();
    });
    connect(batch, &BatchController::outputFolderElsewhere, this, [this](ConversionMode, const QString &folder) {
        m_outputFolderMissing = true;
        m_diskWarningMessage = tr("输出文件夹所在的磁盘未连接：%1。请连接该磁盘，或在设置中另选输出位置。").arg(folder);
        Q_EMIT diskWarningMessageChanged();
    });
}

void BatchRunner::clearDiskWarning()
{
    if (!m_diskWarningMessage)
        return;
    m_diskWarningMessage.reset();
    m_outputFolderMissing = false;
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
