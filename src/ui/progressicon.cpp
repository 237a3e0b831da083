#include "progressicon.h"

#include <QFontDatabase>
#include <QPainter>

#include <algorithm>

QImage paintProgressIcon(const QImage &icon, const QSize &size, double progress, const QString &text)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (!icon.isNull())
        painter.drawImage(QRectF(QPointF(0, 0), QSizeF(size)), icon);

    // The layout is measured up from the bottom edge; flip each rectangle into Qt's coordinates.
    const qreal height = size.height();
    const auto fromBottom = [height](qreal x, qreal y, qreal width, qreal rectHeight) {
        return QRectF(x, height - y - rectHeight, width, rectHeight);
    };
    const qreal trackWidth = size.width() - 24;

    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.2), 1.0));
    painter.setBrush(QColor::fromRgbF(0, 0, 0, 0.65));
    painter.drawRoundedRect(fromBottom(12, 12, trackWidth, 20), 10, 10);

    // Never narrower than its rounded ends, so a batch that just began still shows a bar.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x34, 0xC7, 0x59));
    painter.drawRoundedRect(fromBottom(14, 14, std::max((trackWidth - 4) * progress, qreal(20)), 16), 8, 8);

    if (!text.isEmpty()) {
        // A fixed-pitch face keeps the count from jittering as digits change.
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(10);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(fromBottom(12, 15, trackWidth, 16), Qt::AlignCenter, text);
    }
    return image;
}
