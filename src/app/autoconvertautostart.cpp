#include "autoconvertautostart.h"

#include "settingsstore.h"

#include <QFile>

AutoConvertAutostart::AutoConvertAutostart(SettingsStore *settings, const WatchAutostart::Locations &where, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_where(where)
    , m_enabled(WatchAutostart::isEnabled(where))
{
    connect(m_settings, &SettingsStore::settingsChanged, this, &AutoConvertAutostart::followSettings);
}

void AutoConvertAutostart::refresh()
{
    const bool enabled = WatchAutostart::isEnabled(m_where);
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT isEnabledChanged();
}

bool AutoConvertAutostart::setEnabled(bool enabled)
{
    QString error;
    const AppSettings &s = m_settings->settings();
    const bool done = enabled ? WatchAutostart::enable(m_where, rawValue(s.autoConvertOriginals), s.autoConvertFolders, &error)
                              : WatchAutostart::disable(m_where, &error);
    finish(done, error);
    return done;
}

void AutoConvertAutostart::followSettings()
{
    refresh();
    if (!m_enabled)
        return;
    const AppSettings &s = m_settings->settings();
    if (s.autoConvertFolders.isEmpty()) {
        setEnabled(false);
        return;
    }
    // A change of other settings leaves an entry that already says the same as it is.
    QFile current(WatchAutostart::entryPath(m_where));
    if (current.open(QIODevice::ReadOnly)
        && current.readAll() == WatchAutostart::entryText(m_where.program, rawValue(s.autoConvertOriginals), s.autoConvertFolders))
        return;
    setEnabled(true);
}

void AutoConvertAutostart::finish(bool done, const QString &error)
{
    refresh();
    const QString shown = done ? QString() : error;
    if (shown == m_error)
        return;
    m_error = shown;
    Q_EMIT errorChanged();
}
