#include "englishtexts.h"

#include <QCoreApplication>

EnglishTexts::EnglishTexts()
{
    m_active = m_translator.load(QStringLiteral(":/i18n/pikora_en.qm")) && QCoreApplication::installTranslator(&m_translator);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

EnglishTexts::~EnglishTexts()
{
    QCoreApplication::removeTranslator(&m_translator);
    QLocale::setDefault(m_previousLocale);
}
