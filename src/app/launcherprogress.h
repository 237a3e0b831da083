#pragma once

#include <QObject>
#include <QString>

// Batch progress on the application's launcher icon: the count of ended jobs over the total.
// Docks that speak the launcher-entry protocol (KDE, the GNOME dock extensions) draw their
// own bar from the D-Bus signal; the window repaints its icon from progress() and text().
class LauncherProgress final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LauncherProgress)

public:
    explicit LauncherProgress(QObject *parent = nullptr);

    // Shows completed/total; a total below 1 acts as reset().
    void update(int completed, int total);
    // Back to the plain icon; progress() and text() keep their last values.
    void reset();

    // 0.0 to 1.0.
    double progress() const;
    // "completed/total", empty before the first update.
    QString text() const;
    bool isShowing() const;

signals:
    void changed();

private:
    void announce(const QVariantMap &properties) const;

    double m_progress = 0.0;
    QString m_text;
    bool m_showing = false;
};
