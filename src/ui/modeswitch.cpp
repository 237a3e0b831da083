#include "ui/modeswitch.h"

#include "ui/appactions.h"
#include "ui/style.h"

#include <QAction>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

ModeSwitch::ModeSwitch(AppActions *actions, QWidget *parent)
    : QWidget(parent)
{
    setAccessibleName(tr("模式切换"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(2, 2, 2, 2);
    row->setSpacing(2);
    int index = 0;
    for (QAction *mode : {actions->compressMode, actions->restoreMode}) {
        auto *segment = new QToolButton(this);
        segment->setDefaultAction(mode);
        segment->setAutoRaise(true);
        segment->setToolButtonStyle(Qt::ToolButtonIconOnly);
        segment->setIconSize(QSize(16, 16));
        segment->setFixedSize(segmentWidth, 24);
        segment->setFocusPolicy(Qt::StrongFocus);
        row->addWidget(segment);
        m_segments[index++] = segment;
    }
}

QToolButton *ModeSwitch::segment(int index) const
{
    return m_segments[index];
}

void ModeSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = palette().color(QPalette::WindowText);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    painter.fillPath(frame, Style::faded(ink, 0.05));
    painter.setPen(QPen(Style::faded(ink, 0.15), 1.0));
    painter.drawPath(frame);
    // The chosen segment sits on a raised tile.
    for (QToolButton *segment : m_segments) {
        if (!segment->isChecked())
            continue;
        QPainterPath tile;
        tile.addRoundedRect(QRectF(segment->geometry()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
        painter.fillPath(tile, palette().color(QPalette::Base));
        painter.setPen(QPen(Style::faded(ink, 0.12), 1.0));
        painter.drawPath(tile);
    }
}
