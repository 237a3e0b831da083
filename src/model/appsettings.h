#pragma once

#include "taskitem.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct HardwareInfo;

// How the number of simultaneous jobs is chosen.
enum class ConcurrencyMode { autoMode, maxPerformance, energySaver, custom };

QString rawValue(ConcurrencyMode mode);
std::optional<ConcurrencyMode> concurrencyModeFromRawValue(const QString &text);
QList<ConcurrencyMode> allConcurrencyModes();
QString title(ConcurrencyMode mode);

// All user preferences in one value record. The record proper is a JSON object of eleven keys;
// the folders converted after login are a second object beside it, so that the record keeps the
// keys it always had.
struct AppSettings
{
    DeleteStrategy deleteStrategy = DeleteStrategy::keepOriginal;
    ConcurrencyMode concurrencyMode = ConcurrencyMode::autoMode;
    // The custom count; a fresh store starts it at the machine's automatic count.
    int concurrency = 1;
    bool verifyLossless = false;
    int compressionEffort = 7;
    QString customCjxlPath;
    QString customDjxlPath;
    bool soundFeedbackEnabled = true;
    bool hapticFeedbackEnabled = true;
    bool autoCheckForUpdates = true;
    QString customUpdateFeedURL;
    // Absolute folders whose new photos are converted in the background after login, and what
    // becomes of those photos' originals.
    QStringList autoConvertFolders;
    DeleteStrategy autoConvertOriginals = DeleteStrategy::keepOriginal;

    // Jobs a batch keeps in flight on that hardware.
    int effectiveConcurrency(const HardwareInfo &hardware) const;

    bool operator==(const AppSettings &other) const = default;
};

// Writes the eleven keys in their fixed order; the auto-convert fields are left out.
QByteArray encodeSettings(const AppSettings &settings);

// Strict: a missing key, a wrong JSON type or an unknown enumeration text fails the
// whole record. On failure returns nothing and, when error is given, says why.
// The auto-convert fields come back at their defaults.
std::optional<AppSettings> decodeSettings(const QByteArray &json, QString *error = nullptr);

// The auto-convert fields as their own object: {"folders":[...],"originals":"keep"}.
QByteArray encodeAutoConvert(const AppSettings &settings);
// Fills the auto-convert fields of settings, strictly as decodeSettings reads the record: on
// failure settings is untouched, false is returned and error says why.
bool decodeAutoConvert(const QByteArray &json, AppSettings &settings, QString *error = nullptr);
