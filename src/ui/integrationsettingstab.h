#pragma once

#include <QWidget>

class FileManagerActions;
class QLabel;
class QPushButton;

// Adds or removes the file-manager actions and documents the URL scheme. A failed change shows
// its reason in a message box.
class IntegrationSettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IntegrationSettingsTab)

public:
    explicit IntegrationSettingsTab(FileManagerActions *actions, QWidget *parent = nullptr);

private:
    void showState();
    void toggle();

    FileManagerActions *m_fileManagerActions;
    QLabel *m_stateText;
    QPushButton *m_button;
};
