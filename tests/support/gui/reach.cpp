#include "reach.h"

#include <QScrollArea>
#include <QWidget>

namespace Reach {

QStringList unreachableControls(const QWidget *window, const QWidget *root)
{
    QStringList out;
    for (QWidget *control : root->findChildren<QWidget *>()) {
        if (!control->isVisibleTo(window) || control->focusPolicy() == Qt::NoFocus || control->inherits("QScrollBar"))
            continue;
        for (QWidget *above = control->parentWidget(); above; above = above->parentWidget()) {
            // Its whole rectangle (ensureWidgetVisible would show a line edit's cursor only).
            if (auto *area = qobject_cast<QScrollArea *>(above)) {
                const QPoint centre = control->mapTo(area->widget(), control->rect().center());
                area->ensureVisible(centre.x(), centre.y(), control->width() / 2 + 1, control->height() / 2 + 1);
            }
        }
        // What of it the widgets around it leave in view.
        QRect shown = control->rect();
        for (const QWidget *widget = control; widget != window; widget = widget->parentWidget())
            shown = shown.translated(widget->pos()) & widget->parentWidget()->rect();
        if (shown.size() != control->size())
            out << QString::fromLatin1(control->metaObject()->className()) + u' ' + control->accessibleName();
    }
    return out;
}

} // namespace Reach
