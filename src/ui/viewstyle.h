#pragma once

#include <QColor>
#include <QFont>

class QLabel;
class QMimeData;
class QPainter;
class QPalette;
class QRectF;
class QDropEvent;
class QUrl;
class QWidget;
template<typename T> class QList;

// Sizes, colours and drop rules shared by the window's views.
namespace ViewStyle {

// The application font at a size given in the design's points (a design point is one pixel at
// 1x, three quarters of a typographic point on a 96 dpi desktop).
QFont font(double designPoints, QFont::Weight weight = QFont::Normal);
// The same, for figures that must not jiggle as they change.
QFont monospacedFont(double designPoints, QFont::Weight weight = QFont::Normal);

QColor green();
QColor red();
QColor orange();
QColor accent(const QPalette &palette);
// The text colour at an opacity (secondary text is 0.6 of it, faint marks less).
QColor faded(const QColor &color, double opacity);

// A plain-text label in a font and colour: names and figures are never read as markup.
QLabel *label(const QFont &font, const QColor &color, QWidget *parent);

// The outline a window area shows while files are dragged over it.
void paintDropHighlight(QPainter &painter, const QRectF &area, const QPalette &palette);

// The local files a drag carries; web addresses and other URLs are left out.
QList<QUrl> localFiles(const QMimeData *mime);
// Takes a drag or drop of local files as a copy. False (and the event ignored) when it carries
// none, comes from source itself, or cannot be a copy: accepting a move would let the sender
// delete the user's originals once they are listed.
bool acceptAsCopy(QDropEvent *event, const QObject *source);

} // namespace ViewStyle
