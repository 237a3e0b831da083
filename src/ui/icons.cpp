#include "ui/icons.h"

#include <QFile>

namespace Icons {

QIcon themed(const QString &freedesktopName)
{
    const QString fallbackPath = QStringLiteral(":/icons/") + freedesktopName + QStringLiteral(".svg");
    const QIcon fallback = QFile::exists(fallbackPath) ? QIcon(fallbackPath) : QIcon();
    return QIcon::fromTheme(freedesktopName, fallback);
}

} // namespace Icons
