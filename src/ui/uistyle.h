#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QLabel;
class QWidget;

// Text sizes and colours shared by the settings pages and the update sheet. Sizes are given
// on a scale where 13 is the desktop's normal text, so they follow the user's font settings.
namespace UiStyle {

QFont font(const QWidget *widget, qreal size, QFont::Weight weight = QFont::Normal);
QFont monospace(const QWidget *widget, qreal size);

QColor secondary(const QWidget *widget);
QColor accent(const QWidget *widget);
QColor success();
QColor warning();

void setTextColor(QLabel *label, const QColor &color);

// The application's own icon (theme, then the window icon), else the named fallback icon.
QIcon applicationIcon(const QString &fallback);

// A plain-text label: file names, errors and release notes are never read as markup.
QLabel *plainLabel(const QString &text, QWidget *parent = nullptr);
// A wrapped plain-text label in the smaller, secondary style of explanations.
QLabel *noteLabel(const QString &text, QWidget *parent = nullptr);

} // namespace UiStyle
