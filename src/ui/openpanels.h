#pragma once

#include "model/taskitem.h"

class ImportService;
class QFileDialog;
class QWidget;

// The open dialogs that import photos or folders into the shown list. Window-modal and
// non-blocking: the import starts when the user confirms; cancelling does nothing.
namespace OpenPanels {

// Several files of the shown direction's kind (JPEG, or JPEG XL). Returns the dialog, already open.
QFileDialog *selectFiles(ImportService *imports, ConversionMode mode, QWidget *parent);
// Folders, searched for photos of the shown direction's kind. Returns the dialog, already open.
QFileDialog *selectFolders(ImportService *imports, QWidget *parent);

} // namespace OpenPanels
