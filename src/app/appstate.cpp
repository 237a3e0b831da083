#include "appstate.h"

#include "autoconvertautostart.h"
#include "batchcontroller.h"
#include "batchrunner.h"
#include "engine/toolcommands.h"
#include "filemanageractions.h"
#include "importservice.h"
#include "lifetimestats.h"
#include "platform/hardwaredetector.h"
#include "settingsstore.h"
#include "toolstatus.h"
#include "workspace.h"

AppState::AppState(const BatchFeedback::Devices &devices, QObject *parent)
    : QObject(parent)
    , m_settings(new SettingsStore(HardwareDetector::thisMachine(), this))
    , m_tools(new ToolStatus(m_settings, ToolCommands::builtInSearchFolders(), this))
    , m_workspace(new Workspace(this))
    , m_batch(new BatchController(m_workspace->compressTasks(), m_workspace->restoreTasks(), this))
    , m_runner(new BatchRunner(m_batch, m_workspace, m_settings, this))
    , m_imports(new ImportService(
          m_workspace, [batch = m_batch](const QString &path) { return batch->holdsSource(path); }, this))
    , m_stats(new LifetimeStats(this))
    , m_fileManagerActions(new FileManagerActions(this))
    , m_autoConvert(new AutoConvertAutostart(m_settings, WatchAutostart::locationsFromEnvironment(), this))
{
    m_batch->setToolSearchFolders(m_tools->searchFolders());
    // Counted before anything else hears of the job, so that the figures it shows are current.
    connect(m_batch, &BatchController::jobFinished, m_stats, &LifetimeStats::count);
    m_feedback = new BatchFeedback(devices, m_batch, m_runner, m_workspace, m_settings, this);
}

AppState::~AppState() = default;
