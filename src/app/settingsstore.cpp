#include "settingsstore.h"

#include "engine/whenready.h"
#include "platform/preferences.h"
#include "platform/volumeidentity.h"

#include <QDir>
#include <QFile>
#include <QtConcurrent>

#include <algorithm>

const QString SettingsStore::settingsKey = QStringLiteral("com.lumevo.appsettings");
const QString SettingsStore::outputFolderKey = QStringLiteral("com.lumevo.outputFolder");
const QString SettingsStore::outputVolumeKey = QStringLiteral("com.lumevo.outputFolderVolume");
const QString SettingsStore::autoConvertKey = QStringLiteral("com.lumevo.autoConvert");

SettingsStore::SettingsStore(const HardwareInfo &hardware, QObject *parent)
    : QObject(parent)
    , m_preferences(std::make_unique<Preferences>())
    , m_hardware(hardware)
{
    m_settings.concurrency = hardware.recommendedAutoConcurrency();
    m_outputFolder = QFile::decodeName(m_preferences->data(outputFolderKey));
    if (!m_outputFolder.isEmpty())
        m_outputVolume = QString::fromUtf8(m_preferences->data(outputVolumeKey));
    const std::optional<AppSettings> decoded = decodeSettings(m_preferences->data(settingsKey));
    if (decoded)
        m_settings = *decoded;
    // Settings from before auto-convert existed have no such key: its fields keep their defaults.
    decodeAutoConvert(m_preferences->data(autoConvertKey), m_settings);
    if (decoded)
        save(); // the stored form becomes the record's own encoding
}

SettingsStore::~SettingsStore() = default;

void SettingsStore::setSettings(const AppSettings &settings)
{
    const bool changed = !(settings == m_settings);
    const bool toolsMoved = settings.customCjxlPath != m_settings.customCjxlPath
        || settings.customDjxlPath != m_settings.customDjxlPath;
    m_settings = settings;
    save();
    Q_EMIT jobSettingsChanged();
    if (toolsMoved)
        Q_EMIT customToolPathsChanged();
    if (changed)
        Q_EMIT settingsChanged();
}

void SettingsStore::setRunOverrides(const RunOverrides &overrides)
{
    m_overrides = overrides;
    Q_EMIT jobSettingsChanged();
}

AppSettings SettingsStore::jobSettings() const
{
    AppSettings settings = m_settings;
    if (m_overrides.compressionEffort)
        settings.compressionEffort = *m_overrides.compressionEffort;
    if (m_overrides.deleteStrategy)
        settings.deleteStrategy = *m_overrides.deleteStrategy;
    if (m_overrides.verifyLossless)
        settings.verifyLossless = *m_overrides.verifyLossless;
    if (m_overrides.customCjxlPath)
        settings.customCjxlPath = *m_overrides.customCjxlPath;
    if (m_overrides.customDjxlPath)
        settings.customDjxlPath = *m_overrides.customDjxlPath;
    return settings;
}

int SettingsStore::batchWindowLimit() const
{
    return std::max(1, m_overrides.jobs.value_or(m_settings.effectiveConcurrency(m_hardware)));
}

QString SettingsStore::customCjxlPath() const
{
    return m_overrides.customCjxlPath.value_or(m_settings.customCjxlPath);
}

QString SettingsStore::customDjxlPath() const
{
    return m_overrides.customDjxlPath.value_or(m_settings.customDjxlPath);
}

void SettingsStore::setOutputFolder(const QString &folder)
{
    const QString cleaned = folder.isEmpty() ? QString() : QDir::cleanPath(folder);
    if (cleaned == m_outputFolder)
        return;
    m_outputFolder = cleaned;
    m_outputVolume.clear();
    m_preferences->remove(outputVolumeKey);
    if (cleaned.isEmpty())
        m_preferences->remove(outputFolderKey);
    else
        m_preferences->setData(outputFolderKey, QFile::encodeName(cleaned));
    Q_EMIT outputFolderChanged();
    // Picked now, the folder is where the user sees it: its volume is the one to hold on to.
    if (!cleaned.isEmpty())
        whenReady(this, QtConcurrent::run([cleaned] { return VolumeIdentity::of(cleaned); }),
                  [this, cleaned](const QString &volume) { rememberOutputVolume(cleaned, volume); });
}

void SettingsStore::rememberOutputVolume(const QString &folder, const QString &volume)
{
    if (folder != m_outputFolder || folder.isEmpty() || volume.isEmpty() || !m_outputVolume.isEmpty())
        return;
    m_outputVolume = volume;
    m_preferences->setData(outputVolumeKey, volume.toUtf8());
    Q_EMIT outputVolumeChanged();
}

void SettingsStore::save()
{
    m_preferences->setData(settingsKey, encodeSettings(m_settings));
    const AppSettings defaults;
    if (m_settings.autoConvertFolders == defaults.autoConvertFolders
        && m_settings.autoConvertOriginals == defaults.autoConvertOriginals)
        m_preferences->remove(autoConvertKey);
    else
        m_preferences->setData(autoConvertKey, encodeAutoConvert(m_settings));
}
