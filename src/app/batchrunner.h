#pragma once

#include "engine/diskspaceguard.h"

#include <QObject>
#include <QString>

#include <optional>

class BatchController;
class SettingsStore;
class Workspace;

// Starts batches on the shown list with the settings and output folder in force, keeps the
// running batch in step with the user's edits, and says whether a batch holds the application.
class BatchRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchRunner)

public:
    BatchRunner(BatchController *batch, Workspace *workspace, SettingsStore *settings, QObject *parent = nullptr);

    BatchController *batch() const { return m_batch; }
    // A batch holds the application (from the passed disk check until its end or a cancel).
    bool isProcessing() const { return m_isProcessing; }
    // Why the last start was refused: the disks cannot take the outputs.
    const std::optional<QString> &diskWarningMessage() const { return m_diskWarningMessage; }
    // The last start was refused because the chosen output folder is not there, or not on its
    // disk (the message says which); cleared with the warning.
    bool isOutputFolderMissing() const { return m_outputFolderMissing; }
    void clearDiskWarning();

    // Starts a batch on the shown list; its disk check runs on the thread pool, so a refusal
    // (diskWarningMessage) or the start (isProcessing) comes later.
    void startCurrentProcessing();
    // Ends the running batch; its jobs come back pending once their tools have exited.
    void cancel();

Q_SIGNALS:
    void isProcessingChanged();
    void diskWarningMessageChanged();
    // The user cancelled the running batch.
    void cancelled();

private:
    void stopRunningJobs(const QSet<QUuid> &ids);

    BatchController *m_batch;
    Workspace *m_workspace;
    SettingsStore *m_settings;
    bool m_isProcessing = false;
    std::optional<QString> m_diskWarningMessage;
    bool m_outputFolderMissing = false;
    bool m_outputFolderPending = true; // the stored folder is yet to reach the batch
};
