#include "ui/glasspanel.h"

#include "ui/style.h"

#include <QPainter>
#include <QPainterPath>

GlassPanel::GlassPanel(int cornerRadius, QWidget *parent)
    : QWidget(parent)
    , m_cornerRadius(cornerRadius)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
}

void GlassPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(area, m_cornerRadius, m_cornerRadius);
    // A soft shadow line under the panel, then the frosted body and a hairline edge.
    painter.fillPath(path.translated(0, 1), QColor(0, 0, 0, 18));
    QColor body = palette().color(QPalette::Window);
    body.setAlphaF(0.88);
    painter.fillPath(path, body);
    painter.setPen(QPen(Style::faded(palette().color(QPalette::WindowText), 0.12), 1.0));
    painter.drawPath(path);
}
