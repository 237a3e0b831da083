#include "batchfeedback.h"

#include "batchcontroller.h"
#include "batchrunner.h"
#include "launcherprogress.h"
#include "notificationmanager.h"
#include "platform/sleepinhibitor.h"
#include "platform/soundplayer.h"
#include "settingsstore.h"
#include "tasklist.h"
#include "workspace.h"

#include <QCoreApplication>

namespace {

const char *const kActivityReason = QT_TRANSLATE_NOOP("BatchFeedback", "Pikora正在批量处理照片");

} // namespace

BatchFeedback::BatchFeedback(const Devices &devices, const BatchController *batch, const BatchRunner *runner,
                             const Workspace *workspace, const SettingsStore *settings, QObject *parent)
    : QObject(parent)
    , m_devices(devices)
    , m_workspace(workspace)
    , m_settings(settings)
    , m_sleepInhibitor(std::make_unique<SleepInhibitor>())
{
    connect(batch, &BatchController::started, this, &BatchFeedback::onStarted);
    connect(batch, &BatchController::jobFinished, this, &BatchFeedback::onJobFinished);
    connect(batch, &BatchController::finished, this, &BatchFeedback::onFinished);
    connect(runner, &BatchRunner::cancelled, this, &BatchFeedback::onCancelled);
    if (m_devices.notifications && m_devices.checkNotificationServer)
        m_devices.notifications->checkServer();
}

BatchFeedback::~BatchFeedback() = default;

void BatchFeedback::onStarted()
{
    if (m_sleepInhibitor->state() == SleepInhibitor::State::idle)
        m_sleepInhibitor->acquire(QCoreApplication::translate("BatchFeedback", kActivityReason));
}

void BatchFeedback::onJobFinished(const TaskItem &task, bool ofRunningBatch)
{
    if (!ofRunningBatch || !m_devices.launcher) // nothing is shown for the jobs of a cancelled batch
        return;
    const TaskList *list = m_workspace->tasks(task.mode);
    m_devices.launcher->update(list->count(TaskStatus::completed) + list->count(TaskStatus::failed)
                              + list->count(TaskStatus::skipped),
                          int(list->size()));
}

void BatchFeedback::onFinished(ConversionMode mode)
{
    if (m_devices.launcher)
        m_devices.launcher->reset();
    m_sleepInhibitor->release();
    if (m_settings->settings().soundFeedbackEnabled && m_devices.sound)
        m_devices.sound->playSuccess();
    const TaskList *list = m_workspace->tasks(mode);
    if (m_devices.notifications)
        m_devices.notifications->sendCompletionNotification(mode, list->count(TaskStatus::completed),
                                                            list->savedBytes(), list->count(TaskStatus::failed));
}

void BatchFeedback::onCancelled()
{
    if (m_devices.launcher)
        m_devices.launcher->reset();
    m_sleepInhibitor->release();
}
