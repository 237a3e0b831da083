#include "uilanguage.h"

#include "preferences.h"

#include <QCoreApplication>
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

bool install(QCoreApplication *app)
{
    const QLocale system = QLocale::system();
    const bool english = isEnglish(storedChoice(Preferences()), system.uiLanguages());
    QLocale::setDefault(formattingLocale(english, system));
    if (!english)
        return false;
    // Parented to the application, so it lives exactly as long as the texts it serves.
    auto *translator = new QTranslator(app);
    if (!translator->load(QStringLiteral(":/i18n/pikora_en.qm")) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}

} // namespace UiLanguage
