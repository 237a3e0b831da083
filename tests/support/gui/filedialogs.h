#pragma once

#include <QString>

class QFileDialog;
class QWidget;

// Qt's own file dialog driven as a user drives it, for the widget tests.
namespace FileDialogs {

// The file dialog under parent that shows now; null while none does.
QFileDialog *shown(const QWidget *parent);

// Types text into the dialog's name field and presses Enter; false when the dialog could not be
// activated or has no name field.
bool typeAndEnter(QFileDialog *dialog, const QString &text);

} // namespace FileDialogs
