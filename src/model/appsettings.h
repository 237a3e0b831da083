#pragma once

#include "taskitem.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

struct HardwareInfo;

// How the number of simultaneous jobs is chosen.
enum class ConcurrencyMode { autoMode, maxPerformance, energySaver, custom };

QString rawValue(ConcurrencyMode mode);
std::optional<ConcurrencyMode> concurrencyModeFromRawValue(const QString &text);
QList<ConcurrencyMode> allConcurrencyModes();
QString title(ConcurrencyMode mode);

// All user preferences in one value record, stored as a JSON object of eleven keys.
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

    // Jobs a batch keeps in flight on that hardware.
    int effectiveConcurrency(const HardwareInfo &hardware) const;

    bool operator==(const AppSettings &other) const = default;
};

// Writes the eleven keys in their fixed order.
QByteArray encodeSettings(const AppSettings &settings);

// Strict: a missing key, a wrong JSON type or an unknown enumeration text fails the
// whole record. On failure returns nothing and, when error is given, says why.
std::optional<AppSettings> decodeSettings(const QByteArray &json, QString *error = nullptr);
