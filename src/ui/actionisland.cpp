#include "ui/actionisland.h"

#include "ui/appactions.h"
#include "ui/style.h"

#include <QAction>
#include <QHBoxLayout>
#include <QPainter>
#include <QStyleOptionToolButton>

IslandButton::IslandButton(QWidget *parent)
    : QToolButton(parent)
{
    setFixedSize(GlassPanel::islandHeight, GlassPanel::islandHeight);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setAutoRaise(true);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

void IslandButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool hovered = underMouse() && isEnabled();
    const QColor ink = palette().color(QPalette::WindowText);
    if (hovered) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Style::faded(ink, 0.06));
        painter.drawEllipse(rect());
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(QRectF(rect()).adjusted(2, 2, -2, -2));
    }
    painter.setOpacity(isDown() ? 0.7 : (hovered ? 1.0 : 0.88));
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const QRect target(QPoint(0, 0), iconSize());
    icon().paint(&painter, target.translated(rect().center() - target.center()), Qt::AlignCenter, mode);
}

ActionIsland::ActionIsland(AppActions *actions, QWidget *parent)
    : GlassPanel(islandHeight / 2, parent)
    , m_actions(actions)
    , m_button(new IslandButton(this))
{
    setFixedSize(islandHeight, islandHeight);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(m_button);
    setProcessing(false);
}

void ActionIsland::setProcessing(bool processing)
{
    QAction *shown = processing ? m_actions->stop : m_actions->start;
    if (m_button->defaultAction() == shown)
        return;
    if (QAction *previous = m_button->defaultAction())
        m_button->removeAction(previous);
    m_button->setDefaultAction(shown);
}
