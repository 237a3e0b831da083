#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QString>

class QLabel;
class QPainter;
class QPalette;
class QRectF;
class QWidget;

// Fonts, colours and labels shared by the window's views, the settings pages and the update sheet.
namespace Style {

// Fonts come on two scales. The settings pages and the update sheet size text relative to the
// desktop's normal text (13 stands for it), so they follow the user's font settings; the window's
// views size text in the design's points (a design point is one pixel at 1x, three quarters of a
// typographic point on a 96 dpi desktop).
QFont fontRelativeToDesktop(const QWidget *widget, qreal size, QFont::Weight weight = QFont::Normal);
QFont monospaceRelativeToDesktop(const QWidget *widget, qreal size);
QFont fontInDesignPoints(double designPoints, QFont::Weight weight = QFont::Normal);
// Figures that must not jiggle as they change.
QFont monospaceInDesignPoints(double designPoints, QFont::Weight weight = QFont::Normal);

QColor accent(const QPalette &palette);
// The text colour of explanations on the settings pages and the update sheet.
QColor secondary(const QWidget *widget);
// The text colour at an opacity (secondary text in the views is 0.6 of it, faint marks less).
QColor faded(const QColor &color, double opacity);
// Outcomes written as text on the window's background: darker, so that they read as text.
QColor successText();
QColor warningText();
// Marks, bars and figures in the window's views.
QColor green();
QColor red();
QColor orange();

// A plain-text label: file names, errors, figures and release notes are never read as markup.
QLabel *plainLabel(const QString &text, QWidget *parent = nullptr);
// The same, empty, in a font and colour of its own, for views that fill it in later.
QLabel *plainLabel(const QFont &font, const QColor &color, QWidget *parent);
// A wrapped plain-text label in the smaller, secondary style of explanations.
QLabel *noteLabel(const QString &text, QWidget *parent = nullptr);
void setTextColor(QLabel *label, const QColor &color);

// The application's own icon (theme, then the window icon), else the named fallback icon.
QIcon applicationIcon(const QString &fallback);

// The outline a window area shows while files are dragged over it.
void paintDropHighlight(QPainter &painter, const QRectF &area, const QPalette &palette);

} // namespace Style
