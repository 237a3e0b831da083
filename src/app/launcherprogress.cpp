#include "launcherprogress.h"

#include "version.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QRegularExpression>

#include <algorithm>

LauncherProgress::LauncherProgress(QObject *parent)
    : QObject(parent)
{
}

void LauncherProgress::update(int completed, int total)
{
    if (total < 1) {
        reset();
        return;
    }
    m_progress = std::clamp(static_cast<double>(completed) / total, 0.0, 1.0);
    m_text = QString::number(completed) + QLatin1Char('/') + QString::number(total);
    m_showing = true;
    announce({{QStringLiteral("progress"), m_progress}, {QStringLiteral("progress-visible"), true}});
    emit changed();
}

void LauncherProgress::reset()
{
    if (!m_showing)
        return;
    m_showing = false;
    announce({{QStringLiteral("progress-visible"), false}});
    emit changed();
}

double LauncherProgress::progress() const
{
    return m_progress;
}

QString LauncherProgress::text() const
{
    return m_text;
}

bool LauncherProgress::isShowing() const
{
    return m_showing;
}

void LauncherProgress::announce(const QVariantMap &properties) const
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Any object path will do; docks match the signal by the desktop file in its first argument.
    static const QString path = QLatin1Char('/')
        + QStringLiteral(PIKORA_APP_ID).replace(QLatin1Char('.'), QLatin1Char('/'))
              .replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_/]")), QStringLiteral("_"))
        + QStringLiteral("/LauncherEntry");
    QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    signal << QStringLiteral("application://" PIKORA_APP_ID ".desktop") << properties;
    bus.send(signal);
}
