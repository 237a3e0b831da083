#pragma once

#include "integration/watchautostart.h"

#include <QObject>
#include <QString>

class SettingsStore;

// Whether new photos in the settings' auto-convert folders are converted after login: writes and
// removes the autostart entry, and while it is on keeps it in step with the folders and the
// originals choice (the last folder removed turns it off). The entry's presence is the truth.
class AutoConvertAutostart final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AutoConvertAutostart)

public:
    AutoConvertAutostart(SettingsStore *settings, const WatchAutostart::Locations &where, QObject *parent = nullptr);

    const WatchAutostart::Locations &locations() const { return m_where; }
    bool isEnabled() const { return m_enabled; }
    // Why the last change of the entry failed; empty once one succeeds.
    const QString &error() const { return m_error; }

    // Looks at the entry again: the user may have removed it by hand.
    void refresh();
    // Writes the entry for the current settings, or removes it. Whatever happens, isEnabled()
    // then says whether the entry is there; false when the change failed.
    bool setEnabled(bool enabled);

Q_SIGNALS:
    void isEnabledChanged();
    void errorChanged();

private:
    void followSettings();
    void finish(bool done, const QString &error);

    SettingsStore *m_settings;
    WatchAutostart::Locations m_where;
    bool m_enabled = false;
    QString m_error;
};
