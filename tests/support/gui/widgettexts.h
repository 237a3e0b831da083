#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

// Widgets looked up by the text they show, for the widget tests.
namespace WidgetTexts {

// The texts of root's W children that show whenever root shows, in the order they were made.
template <typename W>
QStringList visibleTexts(const QWidget *root)
{
    QStringList texts;
    for (const W *widget : root->findChildren<W *>()) {
        if (widget->isVisibleTo(root))
            texts << widget->text();
    }
    return texts;
}

// root's first W child whose text is text, shown or not; null when there is none.
template <typename W>
W *byText(const QWidget *root, const QString &text)
{
    for (W *widget : root->findChildren<W *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

} // namespace WidgetTexts

namespace WidgetTexts {

// root's first W child whose text starts with prefix, shown or not; null when there is none.
template <typename W>
W *startingWith(const QWidget *root, const QString &prefix)
{
    for (W *widget : root->findChildren<W *>()) {
        if (widget->text().startsWith(prefix))
            return widget;
    }
    return nullptr;
}

} // namespace WidgetTexts
