#pragma once

class AppState;
class QFileDialog;
class QWidget;

// The open dialogs that import photos or folders into the shown list. Window-modal and
// non-blocking: the import starts when the user confirms; cancelling does nothing.
namespace OpenPanels {

// Several files of the shown direction's kind (JPEG, or JPEG XL). Returns the dialog, already open.
QFileDialog *selectFiles(AppState *state, QWidget *parent);
// Folders, searched for photos of the shown direction's kind. Returns the dialog, already open.
QFileDialog *selectFolders(AppState *state, QWidget *parent);

} // namespace OpenPanels
