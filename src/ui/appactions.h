#pragma once

#include "model/taskitem.h"

#include <QObject>

#include <optional>

class BatchRunner;
class SettingsStore;
class ToolStatus;
class WindowState;
class Workspace;
class QAction;
class QActionGroup;
class UpdateManager;

// What the commands' rules read, taken from the services and the window's state in one place.
struct CommandFacts
{
    ConversionMode mode = ConversionMode::jpegToJXL;
    bool listEmpty = true;   // the shown list
    bool processing = false; // a batch holds the state
    bool toolReady = false;  // the shown direction's tool
    bool hasSelection = false;
    int failedCount = 0; // in the shown list
    bool statsShown = false;

    static CommandFacts of(const Workspace &workspace, const BatchRunner &runner, const ToolStatus &tools,
                           const WindowState &view);
};

// When each command may run; the others always may.
namespace CommandRules {
bool clearList(const CommandFacts &facts);
bool selectAll(const CommandFacts &facts);
bool removeSelected(const CommandFacts &facts);
bool preview(const CommandFacts &facts);
bool start(const CommandFacts &facts);
bool stop(const CommandFacts &facts);
bool retryFailed(const CommandFacts &facts);
} // namespace CommandRules

// Every command of the window, made once and shared by the menus, the toolbar and the island
// buttons; each action's enabled state follows its rule, re-run whenever a value a rule reads
// changes. Commands that need a window (open dialogs, the about box, quitting) are connected
// by the window; the rest call the services here.
class AppActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppActions)

public:
    AppActions(Workspace *workspace, BatchRunner *runner, SettingsStore *settings, ToolStatus *tools, WindowState *view,
               UpdateManager *updates, QObject *parent = nullptr);

    // Menu "Pikora"
    QAction *about;
    QAction *checkForUpdates;
    QAction *preferences;
    QAction *quit;
    // File
    QAction *importPhotos;
    QAction *importFolder;
    QAction *clearList;
    // Edit
    QAction *selectAll;
    QAction *removeSelected;
    // View
    QAction *preview;
    QAction *compressMode;
    QAction *restoreMode;
    QAction *statistics;
    // Tasks
    QAction *start;
    QAction *stop;
    QAction *retryFailed;

    QList<QAction *> all() const;

    // Applies the rules, the mode's texts and the checked states to the facts given.
    void apply(const CommandFacts &facts);
    // The same for the facts as they are now; runs on their change signals.
    void refresh();

private:
    QAction *make(const QString &text, const QString &iconName, const QKeySequence &shortcut);

    SettingsStore *m_settings;
    Workspace *m_workspace;
    BatchRunner *m_runner;
    ToolStatus *m_tools;
    WindowState *m_view;
    UpdateManager *m_updates;
    QActionGroup *m_modes;
    std::optional<ConversionMode> m_shownMode; // whose icon the start action shows
};
