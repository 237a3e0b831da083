#pragma once

#include <QWidget>

class AutoConvertAutostart;
class FileManagerActions;
class QLabel;
class QPushButton;
class SettingsStore;

// Adds or removes the file-manager actions, documents the URL scheme, and, given the auto-convert
// service, holds the folders converted after login. A failed change of the file-manager actions
// shows its reason in a message box.
class IntegrationSettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IntegrationSettingsTab)

public:
    // Without autoConvert the page has no auto-convert section.
    IntegrationSettingsTab(FileManagerActions *actions, SettingsStore *settings, AutoConvertAutostart *autoConvert,
                           QWidget *parent = nullptr);

private:
    void showState();
    void toggle();

    FileManagerActions *m_fileManagerActions;
    QLabel *m_stateText;
    QPushButton *m_button;
};
