#include "screenshots.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

namespace Screenshots {

QString save(QWidget *widget, const QString &name)
{
    QDir().mkpath(QStringLiteral(PIKORA_SCREENS_DIR));
    widget->ensurePolished();
    QApplication::processEvents();
    const QString path = QStringLiteral(PIKORA_SCREENS_DIR "/") + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}

} // namespace Screenshots
