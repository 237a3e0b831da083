#pragma once

#include <QIcon>
#include <QString>

namespace Icons {

// The desktop theme's icon of that freedesktop name; where the theme has none, the project's own
// drawing of it (src/ui/icons/<name>.svg), so the window looks whole on any desktop.
QIcon themed(const QString &freedesktopName);

} // namespace Icons
