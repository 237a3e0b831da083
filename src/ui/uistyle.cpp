#include "ui/uistyle.h"

#include "ui/icons.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>

namespace UiStyle {

QFont font(const QWidget *widget, qreal size, QFont::Weight weight)
{
    QFont result = widget ? widget->font() : QApplication::font();
    const qreal base = QApplication::font().pointSizeF() > 0 ? QApplication::font().pointSizeF() : 10.0;
    result.setPointSizeF(base * size / 13.0);
    result.setWeight(weight);
    return result;
}

QFont monospace(const QWidget *widget, qreal size)
{
    QFont result = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    result.setPointSizeF(font(widget, size).pointSizeF());
    return result;
}

QColor secondary(const QWidget *widget)
{
    const QPalette palette = widget ? widget->palette() : QApplication::palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.62f);
    return color;
}

QColor accent(const QWidget *widget)
{
    return (widget ? widget->palette() : QApplication::palette()).color(QPalette::Highlight);
}

QColor success()
{
    return QColor(0x1e, 0x8e, 0x3e);
}

QColor warning()
{
    return QColor(0xd9, 0x6c, 0x00);
}

void setTextColor(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QIcon applicationIcon(const QString &fallback)
{
    const QIcon own = QIcon::fromTheme(QStringLiteral("io.gitlab.tolvane.Pikora"));
    if (!own.isNull())
        return own;
    if (!QApplication::windowIcon().isNull())
        return QApplication::windowIcon();
    return Icons::themed(fallback);
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QLabel *noteLabel(const QString &text, QWidget *parent)
{
    QLabel *label = plainLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(font(label, 11));
    setTextColor(label, secondary(label));
    return label;
}

} // namespace UiStyle
