#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

// Where secondary windows open.
namespace UiPlacement {

// The top-left corner that centres a window of size over anchor, kept on anchor's screen.
QPoint centredOver(const QWidget *anchor, const QSize &size);

} // namespace UiPlacement
