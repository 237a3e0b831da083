#pragma once

#include "model/appsettings.h"
#include "platform/hardwareinfo.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class Preferences;

// Settings a front end applies to its own runs without storing them (the command line's options).
struct RunOverrides
{
    std::optional<int> jobs;
    std::optional<int> compressionEffort;
    std::optional<DeleteStrategy> deleteStrategy;
    std::optional<bool> verifyLossless;
    std::optional<QString> customCjxlPath;
    std::optional<QString> customDjxlPath;
};

// The stored settings record, the run's overrides on top of it, and what jobs start with.
class SettingsStore final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsStore)

public:
    static const QString settingsKey;
    // The output folder is kept apart from the record, so the record's keys stay as they are.
    static const QString outputFolderKey;
    // The volume the output folder was chosen on (VolumeIdentity), beside it.
    static const QString outputVolumeKey;
    // The settings' auto-convert fields, kept apart from the record for the same reason.
    static const QString autoConvertKey;

    // Loads the stored record; a readable one is written back in the record's own encoding.
    // hardware serves the automatic concurrency and a fresh record's custom count.
    explicit SettingsStore(const HardwareInfo &hardware, QObject *parent = nullptr);
    ~SettingsStore() override;

    const AppSettings &settings() const { return m_settings; }
    const HardwareInfo &hardware() const { return m_hardware; }
    // Stores the record at once.
    void setSettings(const AppSettings &settings);
    const RunOverrides &runOverrides() const { return m_overrides; }
    void setRunOverrides(const RunOverrides &overrides);

    // The settings with the run's overrides applied: what jobs start with.
    AppSettings jobSettings() const;
    // Jobs a batch keeps in flight, with the run's overrides applied.
    int batchWindowLimit() const;
    // The custom tool paths in force, the run's overrides first.
    QString customCjxlPath() const;
    QString customDjxlPath() const;

    // Where the window's batches write their outputs, mirroring the tree below each job's import
    // root; empty: beside the photos. Stored at once.
    const QString &outputFolder() const { return m_outputFolder; }
    // A folder set anew is remembered with the volume it lies on, looked up in the background.
    void setOutputFolder(const QString &folder);
    // The volume the output folder was chosen on; empty until known (a folder stored before
    // volumes were remembered, or one not there when chosen): the next batch start finds it.
    const QString &outputVolume() const { return m_outputVolume; }
    // Remembers the volume folder lies on, while folder is the output folder and no volume is
    // known for it yet. Stored at once.
    void rememberOutputVolume(const QString &folder, const QString &volume);

Q_SIGNALS:
    void settingsChanged();
    // The settings or the overrides changed what jobs start with.
    void jobSettingsChanged();
    // The stored record names other custom tools.
    void customToolPathsChanged();
    void outputFolderChanged();
    // The output folder's volume became known.
    void outputVolumeChanged();

private:
    void save();

    std::unique_ptr<Preferences> m_preferences;
    HardwareInfo m_hardware;
    AppSettings m_settings;
    RunOverrides m_overrides;
    QString m_outputFolder;
    QString m_outputVolume;
};
