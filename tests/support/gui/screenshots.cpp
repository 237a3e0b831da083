#include "screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QWidget>

namespace Screenshots {

QString save(QWidget *widget, const QString &name)
{
    widget->ensurePolished();
    QApplication::processEvents();
    const QString path = QStringLiteral(PIKORA_SCREENS_DIR "/") + name + QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).absolutePath()); // names may hold a folder ("en/...")
    widget->grab().save(path);
    return path;
}

} // namespace Screenshots
