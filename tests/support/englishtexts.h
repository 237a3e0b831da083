#pragma once

#include <QLocale>
#include <QTranslator>

// While it lives, the programs' texts are the English translation compiled into the core and
// numbers follow an English locale; afterwards the Chinese source texts and the old locale
// return. Make it before the widgets whose texts it should change.
class EnglishTexts final
{
    Q_DISABLE_COPY_MOVE(EnglishTexts)

public:
    EnglishTexts();
    ~EnglishTexts();

    // False when the translation could not be loaded or installed.
    bool isActive() const { return m_active; }
    // Whether the running data row is one of a test's English rows (its tag ends in "English"),
    // for init() to make the texts before the widgets.
    static bool forThisRow();
    // "en/", where pictures go while English texts are in force; empty otherwise.
    static QString screensFolder();

private:
    QTranslator m_translator;
    QLocale m_previousLocale;
    bool m_active = false;
};
