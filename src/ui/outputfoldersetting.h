#pragma once

#include <QGroupBox>

class SettingsStore;
class QComboBox;
class QLabel;
class QPushButton;

// Where the window's batches write their outputs: beside the photos, or in a chosen folder that
// takes the imported folders' trees. Stored in a preference of its own at once; a chosen folder
// that is not there is said so beside the control (looked up off the GUI thread, as the folder
// may sit on a disk that does not answer).
class OutputFolderSetting final : public QGroupBox
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OutputFolderSetting)

public:
    explicit OutputFolderSetting(SettingsStore *settings, QWidget *parent = nullptr);
    ~OutputFolderSetting() override;

    QComboBox *choices() const { return m_choices; }
    QPushButton *chooseButton() const { return m_choose; }
    QLabel *note() const { return m_note; }
    // Takes a folder as the folder dialog would.
    void chooseFolder(const QString &folder);

private:
    void fill();
    void checkFolder();

    SettingsStore *m_settings;
    QComboBox *m_choices;
    QPushButton *m_choose;
    QLabel *m_note;
    quint64 m_checks = 0; // the last look-up asked; older answers are dropped
};
