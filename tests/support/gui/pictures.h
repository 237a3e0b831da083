#pragma once

#include <QString>

class QWidget;

namespace Pictures {

// Pictures widget as build/screens/<name>.png, under en/ while the English texts are in force,
// and returns what LayoutCheck::clippedTexts finds cut off in it, joined; empty when nothing is.
// For QCOMPARE(Pictures::save(widget, name), QString()).
QString save(QWidget *widget, const QString &name);

} // namespace Pictures
