#include "ui/uiplacement.h"

#include <QRect>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace UiPlacement {

QPoint centredOver(const QWidget *anchor, const QSize &size)
{
    const QRect frame = anchor->frameGeometry();
    QPoint corner(frame.center().x() - size.width() / 2, frame.center().y() - size.height() / 2);
    if (const QScreen *screen = anchor->screen()) {
        const QRect room = screen->availableGeometry();
        corner.setX(std::clamp(corner.x(), room.left(), std::max(room.left(), room.right() + 1 - size.width())));
        corner.setY(std::clamp(corner.y(), room.top(), std::max(room.top(), room.bottom() + 1 - size.height())));
    }
    return corner;
}

} // namespace UiPlacement
