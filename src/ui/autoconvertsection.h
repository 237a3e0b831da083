#pragma once

#include <QGroupBox>

class AutoConvertAutostart;
class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class SettingsStore;

// The folders whose new photos are converted in the background after login, what becomes of
// their originals, and the switch that writes or removes the login entry. The switch shows
// whether the entry is there, looked at again each time the section is shown; a change that
// failed says why below it.
class AutoConvertSection final : public QGroupBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoConvertSection)

public:
    AutoConvertSection(SettingsStore *settings, AutoConvertAutostart *autostart, QWidget *parent = nullptr);

    QListWidget *folders() const { return m_folders; }
    QComboBox *originals() const { return m_originals; }
    QCheckBox *loginSwitch() const { return m_switch; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *removeButton() const { return m_remove; }
    QLabel *errorText() const { return m_error; }
    // Takes a folder as the folder dialog would; one already listed is not added again.
    void addFolder(const QString &folder);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fill();
    void showSwitch();
    void chooseFolder();
    void removeSelected();

    SettingsStore *m_settings;
    AutoConvertAutostart *m_autostart;
    QListWidget *m_folders;
    QPushButton *m_add;
    QPushButton *m_remove;
    QComboBox *m_originals;
    QCheckBox *m_switch;
    QLabel *m_error;
};
