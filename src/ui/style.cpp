#include "ui/style.h"

#include "ui/icons.h"
#include "version.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace Style {

namespace {

QFont inDesignPoints(QFont font, double designPoints, QFont::Weight weight)
{
    font.setPointSizeF(designPoints * 0.75);
    font.setWeight(weight);
    return font;
}

} // namespace

QFont fontRelativeToDesktop(const QWidget *widget, qreal size, QFont::Weight weight)
{
    QFont result = widget ? widget->font() : QApplication::font();
    const qreal base = QApplication::font().pointSizeF() > 0 ? QApplication::font().pointSizeF() : 10.0;
    result.setPointSizeF(base * size / 13.0);
    result.setWeight(weight);
    return result;
}

QFont monospaceRelativeToDesktop(const QWidget *widget, qreal size)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPointSizeF(fontRelativeToDesktop(widget, size).pointSizeF());
    return result;
}

QFont fontInDesignPoints(double designPoints, QFont::Weight weight)
{
    return inDesignPoints(QApplication::font(), designPoints, weight);
}

QFont monospaceInDesignPoints(double designPoints, QFont::Weight weight)
{
    return inDesignPoints(QFontDatabase::systemFont(QFontDatabase::FixedFont), designPoints, weight);
}

QColor accent(const QPalette &palette)
{
    return palette.color(QPalette::Highlight);
}

QColor secondary(const QWidget *widget)
{
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    return color;
}

QColor faded(const QColor &color, double opacity)
{
    QColor result = color;
    result.setAlphaF(float(color.alphaF() * opacity));
    return result;
}

QColor successText()
{
    return QColor(0x1e, 0x8e, 0x3e);
}

QColor warningText()
{
    return QColor(0xd9, 0x6c, 0x00);
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

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QLabel *plainLabel(const QFont &font, const QColor &color, QWidget *parent)
{
    QLabel *label = plainLabel(QString(), parent);
    label->setFont(font);
    setTextColor(label, color);
    return label;
}

QLabel *noteLabel(const QString &text, QWidget *parent)
{
    QLabel *label = plainLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(fontRelativeToDesktop(label, 11));
    setTextColor(label, secondary(label));
    return label;
}

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QIcon applicationIcon(const QString &fallback)
{
    const QIcon own = QIcon::fromTheme(QStringLiteral(PIKORA_APP_ID));
    if (!own.isNull())
        return own;
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    return Icons::themed(fallback);
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

} // namespace Style
