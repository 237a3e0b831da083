#pragma once

#include <QColor>
#include <QImage>
#include <QList>

// Pictures to compare thumbnails by, shared by the suites that make them (the window's cache and
// the file managers' thumbnailer).
namespace TestPictures {

// A picture whose four quadrants differ, so every turn and mirror of it looks different.
inline QImage quadrants(QSize size, const QList<QColor> &colors = {Qt::red, Qt::green, Qt::blue, Qt::yellow})
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixelColor(x, y, colors.at((y < size.height() / 2 ? 0 : 2) + (x < size.width() / 2 ? 0 : 1)));
    return image;
}

// The picture's mean colour.
inline QColor average(const QImage &image)
{
    return image.scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0);
}

inline bool near(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace TestPictures
