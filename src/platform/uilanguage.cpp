#include "uilanguage.h"

#include "preferences.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace UiLanguage {

const QString preferenceKey = QStringLiteral("com.lumevo.uiLanguage");

bool isEnglish(Choice choice, const QStringList &uiLanguages)
{
    if (choice != Choice::followSystem)
        return choice == Choice::english;
    for (const QString &language : uiLanguages) {
        const QString lower = language.toLower();
        if (lower == u"c" || lower == u"posix" || lower.startsWith(u"c.") || lower == u"zh"
            || lower.startsWith(u"zh-") || lower.startsWith(u"zh_"))
            return false;
        if (lower == u"en" || lower.startsWith(u"en-") || lower.startsWith(u"en_"))
            return true;
    }
    return true;
}

QLocale formattingLocale(bool english, const QLocale &system)
{
    if (english)
        return system.language() == QLocale::English ? system : QLocale(QLocale::English, QLocale::UnitedStates);
    if (system.language() == QLocale::Chinese || system.language() == QLocale::C)
        return system;
    return QLocale(QLocale::Chinese, QLocale::China);
}

QString storedName(Choice choice)
{
    switch (choice) {
    case Choice::chinese:
        return QStringLiteral("zh_CN");
    case Choice::english:
        return QStringLiteral("en");
    case Choice::followSystem:
        break;
    }
    return QStringLiteral("system");
}

Choice choiceFromStoredName(const QString &name)
{
    if (name == u"zh_CN")
        return Choice::chinese;
    if (name == u"en")
        return Choice::english;
    return Choice::followSystem;
}

Choice storedChoice(const Preferences &preferences)
{
    return choiceFromStoredName(QString::fromUtf8(preferences.data(preferenceKey)));
}

void storeChoice(Preferences &preferences, Choice choice)
{
    preferences.setData(preferenceKey, storedName(choice).toUtf8());
    preferences.sync();
}

namespace {

// Installs the translation in file; parented to the application, so it lives exactly as long as
// the texts it serves.
bool installTranslation(QCoreApplication *app, const QString &file)
{
    auto *translator = new QTranslator(app);
    if (!translator->load(file) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

// Qt's own translation of its texts for the language (Debian's qt6-translations-l10n).
QString qtTranslationFile(bool english)
{
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath)
           + (english ? QStringLiteral("/qtbase_en.qm") : QStringLiteral("/qtbase_zh_CN.qm"));
}

} // namespace

bool install(QCoreApplication *app)
{
    const QLocale system = QLocale::system();
    const bool english = isEnglish(storedChoice(Preferences()), system.uiLanguages());
    QLocale::setDefault(formattingLocale(english, system));
    // Qt's own texts (file dialogs, standard buttons, the command-line parser) come from the
    // system's Qt translations; without them they stay in Qt's English.
    installTranslation(app, qtTranslationFile(english));
    return english && installTranslation(app, QStringLiteral(":/i18n/pikora_en.qm"));
}

} // namespace UiLanguage
