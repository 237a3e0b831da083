#include "englishtexts.h"

#include <QCoreApplication>
#include <QTest>

namespace {
int alive = 0; // EnglishTexts in force
}

EnglishTexts::EnglishTexts()
{
    ++alive;
    m_active = m_translator.load(QStringLiteral(":/i18n/pikora_en.qm")) && QCoreApplication::installTranslator(&m_translator);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

EnglishTexts::~EnglishTexts()
{
    --alive;
    QCoreApplication::removeTranslator(&m_translator);
    QLocale::setDefault(m_previousLocale);
}

bool EnglishTexts::forThisRow()
{
    const char *tag = QTest::currentDataTag();
    return tag && QByteArrayView(tag).endsWith("English");
}

QString EnglishTexts::screensFolder()
{
    return alive > 0 ? QStringLiteral("en/") : QString();
}
