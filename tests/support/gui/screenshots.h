#pragma once

#include <QString>

class QWidget;

namespace Screenshots {

// Saves what the widget shows as build/screens/<name>.png (name may start with a folder, "en/"),
// for people to look at; returns the path.
// Laid out and painted first, so a widget never shown on screen still renders whole.
QString save(QWidget *widget, const QString &name);
// The same for a window, pictured on its whole screen at its place: the screen dark, the room it
// leaves to windows lighter, the window's frame darkest. Shows whether a window fits.
QString saveOnScreen(QWidget *window, const QString &name);

} // namespace Screenshots
