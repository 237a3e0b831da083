#pragma once

#include <QImage>
#include <QSize>
#include <QString>

// The application icon scaled to size with a progress track, a green bar and the count text
// along its bottom edge, as the launcher icon shows a running batch. progress is 0.0 to 1.0.
QImage paintProgressIcon(const QImage &icon, const QSize &size, double progress, const QString &text);
