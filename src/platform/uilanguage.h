#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>

class Preferences;
class QCoreApplication;

// The language of every text the programs show. The source texts are Chinese; the English
// ones come from the translation compiled into the executables.
namespace UiLanguage {

enum class Choice {
    followSystem,
    chinese,
    english,
};

// The preference that holds the user's choice; kept apart from the settings record.
extern const QString preferenceKey;

// Whether the English texts are shown. Following the system, the desktop's languages are read
// in order of preference (as QLocale::uiLanguages lists them): the first Chinese or English
// one decides, and the C/POSIX locale means the source texts; a list with neither (German
// alone, say) gets English, the closer of the two to most readers.
bool isEnglish(Choice choice, const QStringList &uiLanguages);

// The locale numbers and dates follow: the system's own when it speaks the chosen language (or
// is the C locale, for the Chinese texts), else the chosen language's usual one.
QLocale formattingLocale(bool english, const QLocale &system);

// The stored form of a choice and back; an unknown stored text reads as following the system.
QString storedName(Choice choice);
Choice choiceFromStoredName(const QString &name);

Choice storedChoice(const Preferences &preferences);
void storeChoice(Preferences &preferences, Choice choice);

// Installs the translations the stored choice and the desktop ask for, ours and Qt's, and makes
// the matching locale the default one. Call once, after the application object exists; returns
// whether the texts are English.
bool install(QCoreApplication *app);

} // namespace UiLanguage
