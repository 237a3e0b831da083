#include "appsettings.h"

#include "platform/hardwareinfo.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct ModeInfo
{
    ConcurrencyMode mode;
    const char *raw;
    const char *title;
};

const ModeInfo kModes[] = {
    {ConcurrencyMode::autoMode, "auto", QT_TRANSLATE_NOOP("ConcurrencyMode", "自动")},
    {ConcurrencyMode::maxPerformance, "maxPerformance", QT_TRANSLATE_NOOP("ConcurrencyMode", "最高性能")},
    {ConcurrencyMode::energySaver, "energySaver", QT_TRANSLATE_NOOP("ConcurrencyMode", "低功耗")},
    {ConcurrencyMode::custom, "custom", QT_TRANSLATE_NOOP("ConcurrencyMode", "自定…")},
};

const ModeInfo &info(ConcurrencyMode mode)
{
    return kModes[static_cast<size_t>(mode)];
}

// A JSON string literal with the escaping QJsonDocument applies.
QByteArray jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QByteArray jsonBool(bool value)
{
    return value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

class StrictReader
{
public:
    StrictReader(const QJsonObject &object, QString *error) : m_object(object), m_error(error) {}

    bool ok() const { return m_ok; }

    QJsonValue require(const char *key, QJsonValue::Type type, const char *typeName)
    {
        if (!m_ok)
            return {};
        const QString name = QLatin1String(key);
        if (!m_object.contains(name))
            return fail(QStringLiteral("missing key \"%1\"").arg(name));
        const QJsonValue value = m_object.value(name);
        if (value.type() != type)
            return fail(QStringLiteral("key \"%1\" is not a %2").arg(name, QLatin1String(typeName)));
        return value;
    }

    QString string(const char *key) { return require(key, QJsonValue::String, "string").toString(); }

    QStringList strings(const char *key)
    {
        const QJsonArray array = require(key, QJsonValue::Array, "array").toArray();
        QStringList out;
        for (const QJsonValue &value : array) {
            if (!value.isString()) {
                fail(QStringLiteral("key \"%1\" holds a value that is not a string").arg(QLatin1String(key)));
                return {};
            }
            out.append(value.toString());
        }
        return out;
    }
    bool boolean(const char *key) { return require(key, QJsonValue::Bool, "boolean").toBool(); }

    int integer(const char *key)
    {
        const double number = require(key, QJsonValue::Double, "number").toDouble();
        if (!m_ok)
            return 0;
        if (std::floor(number) != number || number < double(std::numeric_limits<int>::min())
            || number > double(std::numeric_limits<int>::max())) {
            fail(QStringLiteral("key \"%1\" is not an integer").arg(QLatin1String(key)));
            return 0;
        }
        return int(number);
    }

    template<typename Enum>
    Enum enumeration(const char *key, std::optional<Enum> (*fromRaw)(const QString &))
    {
        const QString text = string(key);
        if (!m_ok)
            return Enum{};
        const std::optional<Enum> value = fromRaw(text);
        if (!value) {
            fail(QStringLiteral("key \"%1\" has unknown value \"%2\"").arg(QLatin1String(key), text));
            return Enum{};
        }
        return *value;
    }

private:
    QJsonValue fail(const QString &why)
    {
        m_ok = false;
        if (m_error)
            *m_error = why;
        return {};
    }

    QJsonObject m_object;
    QString *m_error;
    bool m_ok = true;
};

} // namespace

QString rawValue(ConcurrencyMode mode)
{
    return QLatin1String(info(mode).raw);
}

std::optional<ConcurrencyMode> concurrencyModeFromRawValue(const QString &text)
{
    for (const ModeInfo &m : kModes) {
        if (text == QLatin1String(m.raw))
            return m.mode;
    }
    return std::nullopt;
}

QList<ConcurrencyMode> allConcurrencyModes()
{
    return {ConcurrencyMode::autoMode, ConcurrencyMode::maxPerformance, ConcurrencyMode::energySaver,
            ConcurrencyMode::custom};
}

QString title(ConcurrencyMode mode)
{
    return QCoreApplication::translate("ConcurrencyMode", info(mode).title);
}

int AppSettings::effectiveConcurrency(const HardwareInfo &hardware) const
{
    switch (concurrencyMode) {
    case ConcurrencyMode::autoMode:
        return hardware.recommendedAutoConcurrency();
    case ConcurrencyMode::maxPerformance:
        return hardware.totalCores;
    case ConcurrencyMode::energySaver:
        return hardware.recommendedSaverConcurrency();
    case ConcurrencyMode::custom:
        return std::max(std::min(concurrency, hardware.totalCores), 1);
    }
    return 1;
}

QByteArray encodeSettings(const AppSettings &s)
{
    QByteArray out = "{";
    const auto field = [&out](const char *key, const QByteArray &value) {
        if (out.size() > 1)
            out += ',';
        out += '"';
        out += key;
        out += "\":";
        out += value;
    };
    field("deleteStrategy", jsonString(rawValue(s.deleteStrategy)));
    field("concurrencyMode", jsonString(rawValue(s.concurrencyMode)));
    field("concurrency", QByteArray::number(s.concurrency));
    field("verifyLossless", jsonBool(s.verifyLossless));
    field("compressionEffort", QByteArray::number(s.compressionEffort));
    field("customCjxlPath", jsonString(s.customCjxlPath));
    field("customDjxlPath", jsonString(s.customDjxlPath));
    field("soundFeedbackEnabled", jsonBool(s.soundFeedbackEnabled));
    field("hapticFeedbackEnabled", jsonBool(s.hapticFeedbackEnabled));
    field("autoCheckForUpdates", jsonBool(s.autoCheckForUpdates));
    field("customUpdateFeedURL", jsonString(s.customUpdateFeedURL));
    out += '}';
    return out;
}

std::optional<AppSettings> decodeSettings(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not a JSON object");
        return std::nullopt;
    }

    StrictReader in(document.object(), error);
    AppSettings s;
    s.deleteStrategy = in.enumeration("deleteStrategy", &deleteStrategyFromRawValue);
    s.concurrencyMode = in.enumeration("concurrencyMode", &concurrencyModeFromRawValue);
    s.concurrency = in.integer("concurrency");
    s.verifyLossless = in.boolean("verifyLossless");
    s.compressionEffort = in.integer("compressionEffort");
    s.customCjxlPath = in.string("customCjxlPath");
    s.customDjxlPath = in.string("customDjxlPath");
    s.soundFeedbackEnabled = in.boolean("soundFeedbackEnabled");
    s.hapticFeedbackEnabled = in.boolean("hapticFeedbackEnabled");
    s.autoCheckForUpdates = in.boolean("autoCheckForUpdates");
    s.customUpdateFeedURL = in.string("customUpdateFeedURL");
    if (!in.ok())
        return std::nullopt;
    return s;
}

QByteArray encodeAutoConvert(const AppSettings &settings)
{
    const QJsonObject object{{QStringLiteral("folders"), QJsonArray::fromStringList(settings.autoConvertFolders)},
                             {QStringLiteral("originals"), rawValue(settings.autoConvertOriginals)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool decodeAutoConvert(const QByteArray &json, AppSettings &settings, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("not a JSON object");
        return false;
    }
    StrictReader in(document.object(), error);
    const QStringList folders = in.strings("folders");
    const DeleteStrategy originals = in.enumeration("originals", &deleteStrategyFromRawValue);
    if (!in.ok())
        return false;
    settings.autoConvertFolders = folders;
    settings.autoConvertOriginals = originals;
    return true;
}
