#pragma once

#include <QStringList>

class QWidget;

namespace LayoutCheck {

// The visible labels and buttons under root that have less room than their text asks for
// (width below their minimum, height below what their width needs), described for a message.
// Lets pending relayouts run first (waits up to 5 s for the list to empty).
QStringList clippedTexts(const QWidget *root);

} // namespace LayoutCheck
