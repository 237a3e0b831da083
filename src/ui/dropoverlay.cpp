#include "ui/dropoverlay.h"

#include "ui/style.h"

#include <QEvent>
#include <QPainter>

DropOverlay::DropOverlay(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
    // It covers its parent whatever size the parent takes.
    parent->installEventFilter(this);
}

void DropOverlay::setTargeted(bool targeted)
{
    setGeometry(parentWidget()->rect());
    setVisible(targeted);
    if (targeted)
        raise();
}

bool DropOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

void DropOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Style::paintDropHighlight(painter, rect(), palette());
}
