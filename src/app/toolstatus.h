#pragma once

#include "model/taskitem.h"

#include <QObject>
#include <QString>
#include <QStringList>

class SettingsStore;

// Where cjxl and djxl are and whether each is there, probed off the GUI thread.
class ToolStatus final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ToolStatus)

public:
    static QString notInstalledText();

    // Probes at once, and again whenever the stored custom tool paths change.
    ToolStatus(const SettingsStore *settings, const QStringList &searchFolders, QObject *parent = nullptr);

    bool isCjxlReady() const { return m_isCjxlReady; }
    bool isDjxlReady() const { return m_isDjxlReady; }
    // The tool of a direction is there.
    bool isReady(ConversionMode mode) const;
    // Empty until the first probe has answered; then a path or notInstalledText().
    QString cjxlPath() const { return m_cjxlPath; }
    QString djxlPath() const { return m_djxlPath; }
    const QStringList &searchFolders() const { return m_searchFolders; }

    // Looks for the tools again (custom paths, the run's overrides first); answers later, from
    // the event loop, through statusChanged().
    void probe();

Q_SIGNALS:
    void statusChanged();

private:
    const SettingsStore *m_settings;
    QStringList m_searchFolders; // worked out once, on the GUI thread
    bool m_isCjxlReady = false;
    bool m_isDjxlReady = false;
    QString m_cjxlPath;
    QString m_djxlPath;
    quint64 m_probe = 0;
};
