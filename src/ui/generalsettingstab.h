#pragma once

#include <QHash>
#include <QWidget>

class SettingsStore;
class ToolStatus;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;

// What becomes of originals, where outputs go, the completion sound, and where the conversion
// tools live. Every change is written at once; filling the controls writes nothing.
class GeneralSettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GeneralSettingsTab)

public:
    GeneralSettingsTab(SettingsStore *store, ToolStatus *tools, QWidget *parent = nullptr);
    ~GeneralSettingsTab() override;

private:
    struct ToolRow
    {
        QString name;
        QLineEdit *path = nullptr;
        QLabel *found = nullptr;
    };

    QWidget *toolRow(ToolRow &row);
    void fill();
    void showToolStatus();
    void setToolPath(const QString &tool, const QString &path);
    void chooseTool(const QString &tool);
    // The version the tool at path reports, read once per path off the GUI thread.
    QString toolVersion(const QString &path);

    SettingsStore *m_settingsStore;
    ToolStatus *m_tools;
    QButtonGroup *m_strategies;
    QLabel *m_strategyDescription;
    QCheckBox *m_verify;
    QLabel *m_verifyNote;
    QCheckBox *m_sound;
    ToolRow m_cjxl;
    ToolRow m_djxl;
    bool m_probing = false;
    QHash<QString, QString> m_versions; // path -> version ("" while asked or when none is known)
};
