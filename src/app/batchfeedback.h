#pragma once

#include "model/taskitem.h"

#include <QObject>

#include <memory>

class BatchController;
class BatchRunner;
class LauncherProgress;
class NotificationManager;
class SettingsStore;
class SleepInhibitor;
class SoundPlayer;
class Workspace;

// What the desktop shows and plays while batches run: launcher progress, the completion sound and
// notification, and the sleep inhibitor held for the batch.
class BatchFeedback final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BatchFeedback)

public:
    // Where the feedback goes. The window uses all of them; the command line none.
    struct Devices
    {
        NotificationManager *notifications = nullptr;
        LauncherProgress *launcher = nullptr;
        SoundPlayer *sound = nullptr;
        bool checkNotificationServer = false;
    };

    // Follows the batch controller's signals and the runner's cancels from now on.
    BatchFeedback(const Devices &devices, const BatchController *batch, const BatchRunner *runner,
                  const Workspace *workspace, const SettingsStore *settings, QObject *parent = nullptr);
    ~BatchFeedback() override;

private:
    void onStarted();
    void onJobFinished(const TaskItem &task, bool ofRunningBatch);
    void onFinished(ConversionMode mode);
    void onCancelled();

    Devices m_devices;
    const Workspace *m_workspace;
    const SettingsStore *m_settings;
    std::unique_ptr<SleepInhibitor> m_sleepInhibitor;
};
