#pragma once

#include "batchfeedback.h"

#include <QObject>

class AutoConvertAutostart;
class BatchController;
class BatchRunner;
class FileManagerActions;
class ImportService;
class LifetimeStats;
class SettingsStore;
class ToolStatus;
class Workspace;

// The composition root of the core: makes each service once, wires them together, and hands
// them to the front ends. It has no behaviour of its own. One instance, on the GUI thread.
class AppState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppState)

public:
    // Loads the settings and counters, probes the tools, reads the file-manager actions and
    // the auto-convert entry.
    explicit AppState(const BatchFeedback::Devices &devices, QObject *parent = nullptr);
    ~AppState() override;

    SettingsStore *settings() const { return m_settings; }
    ToolStatus *tools() const { return m_tools; }
    Workspace *workspace() const { return m_workspace; }
    ImportService *imports() const { return m_imports; }
    BatchController *batch() const { return m_batch; }
    BatchRunner *runner() const { return m_runner; }
    LifetimeStats *stats() const { return m_stats; }
    FileManagerActions *fileManagerActions() const { return m_fileManagerActions; }
    AutoConvertAutostart *autoConvert() const { return m_autoConvert; }

private:
    SettingsStore *m_settings;
    ToolStatus *m_tools;
    Workspace *m_workspace;
    BatchController *m_batch;
    BatchRunner *m_runner;
    ImportService *m_imports;
    LifetimeStats *m_stats;
    BatchFeedback *m_feedback;
    FileManagerActions *m_fileManagerActions;
    AutoConvertAutostart *m_autoConvert;
};
