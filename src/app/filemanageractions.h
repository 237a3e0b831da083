#pragma once

#include <QObject>
#include <QString>

// Whether the file managers' "convert with Pikora" actions are installed; installs and removes them.
class FileManagerActions final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FileManagerActions)

public:
    // Reads whether the actions are installed.
    explicit FileManagerActions(QObject *parent = nullptr);

    bool isInstalled() const { return m_isInstalled; }
    // On failure the flag keeps its value and error says why; nothing is printed.
    bool install(QString *error = nullptr);
    bool uninstall(QString *error = nullptr);

Q_SIGNALS:
    void isInstalledChanged();

private:
    void setInstalled(bool installed);

    bool m_isInstalled = false;
};
