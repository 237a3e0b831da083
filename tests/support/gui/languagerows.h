#pragma once

#include <QTest>

// The two rows of a test that runs once in each language: "Chinese", then "English", whose tag
// tells EnglishTexts::forThisRow to put the English texts in force. Its one column, english,
// says which row runs.
namespace LanguageRows {

inline void add()
{
    QTest::addColumn<bool>("english");
    QTest::newRow("Chinese") << false;
    QTest::newRow("English") << true;
}

} // namespace LanguageRows
