#pragma once

#include <QWidget>

class SettingsStore;
class ElidedLabel;
class QCheckBox;
class QLabel;
class QPushButton;
class UpdateManager;

// The application's name and version, the update check with its state, and the web site.
class AboutSettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AboutSettingsTab)

public:
    AboutSettingsTab(SettingsStore *store, UpdateManager *updates, QWidget *parent = nullptr);

private:
    void fill();
    void showStatus();

    SettingsStore *m_settingsStore;
    UpdateManager *m_updates;
    QCheckBox *m_autoCheck;
    QLabel *m_statusIcon;
    ElidedLabel *m_statusText;
    QPushButton *m_check;
};
