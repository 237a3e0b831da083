#pragma once

#include <QStringList>

class QWidget;

namespace Reach {

// The focusable controls under root, shown in window, that cannot be brought whole into view,
// scrolling every scroll area above them as a user would; by class and accessible name.
QStringList unreachableControls(const QWidget *window, const QWidget *root);

} // namespace Reach
