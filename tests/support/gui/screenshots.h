#pragma once

#include <QString>

class QWidget;

namespace Screenshots {

// Saves what the widget shows as build/screens/<name>.png (name may start with a folder, "en/"),
// for people to look at; returns the path.
// Laid out and painted first, so a widget never shown on screen still renders whole.
QString save(QWidget *widget, const QString &name);

} // namespace Screenshots
