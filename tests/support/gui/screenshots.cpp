#include "screenshots.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
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

QString saveOnScreen(QWidget *window, const QString &name)
{
    window->ensurePolished();
    QApplication::processEvents();
    const QScreen *screen = window->screen();
    const QRect whole = screen->geometry();
    QImage picture(whole.size(), QImage::Format_RGB32);
    picture.fill(QColor(45, 45, 45));
    QPainter painter(&picture);
    painter.translate(-whole.topLeft());
    painter.fillRect(screen->availableGeometry(), QColor(120, 120, 120));
    painter.fillRect(window->frameGeometry(), QColor(20, 20, 20));
    painter.drawPixmap(window->geometry().topLeft(), window->grab());
    painter.end();
    const QString path = QStringLiteral(PIKORA_SCREENS_DIR "/") + name + QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).absolutePath());
    picture.save(path);
    return path;
}

} // namespace Screenshots
