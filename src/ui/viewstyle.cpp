#include "ui/viewstyle.h"

#include <QApplication>
#include <QDropEvent>
#include <QFontDatabase>
#include <QLabel>
#include <QLinearGradient>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QUrl>

namespace ViewStyle {

namespace {

QFont sized(QFont font, double designPoints, QFont::Weight weight)
{
    font.setPointSizeF(designPoints * 0.75);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont font(double designPoints, QFont::Weight weight)
{
    return sized(QApplication::font(), designPoints, weight);
}

QFont monospacedFont(double designPoints, QFont::Weight weight)
{
    return sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), designPoints, weight);
}

QColor green()
{
    return QColor(0x34, 0xC7, 0x59);
}

QColor red()
{
    return QColor(0xFF, 0x3B, 0x30);
}

QColor orange()
{
    return QColor(0xFF, 0x95, 0x00);
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor faded(const QColor &color, double opacity)
{
    QColor result = color;
    result.setAlphaF(float(color.alphaF() * opacity));
    return result;
}

void paintDropHighlight(QPainter &painter, const QRectF &area, const QPalette &palette)
{
    const QColor tint = accent(palette);
    const qreal stroke = 2.5;
    const QRectF inside = area.adjusted(stroke / 2, stroke / 2, -stroke / 2, -stroke / 2);
    QPainterPath path;
    path.addRoundedRect(inside, 10, 10);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path, faded(tint, 0.04));
    QLinearGradient gradient(area.topLeft(), area.bottomRight());
    gradient.setColorAt(0.0, faded(tint, 0.8));
    gradient.setColorAt(0.5, QColor::fromRgbF(0.0f, 0.85f, 1.0f));
    gradient.setColorAt(1.0, faded(tint, 0.6));
    painter.setPen(QPen(QBrush(gradient), stroke));
    painter.drawPath(path);
    painter.restore();
}

QList<QUrl> localFiles(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url);
    }
    return files;
}

bool acceptAsCopy(QDropEvent *event, const QObject *source)
{
    if (event->source() == source || !(event->possibleActions() & Qt::CopyAction)
        || localFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

QLabel *label(const QFont &font, const QColor &color, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font);
    QPalette palette = result->palette();
    palette.setColor(QPalette::WindowText, color);
    result->setPalette(palette);
    return result;
}

} // namespace ViewStyle
