#pragma once

#include "engine/fileidentity.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTimer>

#include <map>
#include <optional>

// Photos waiting to be left alone for the settle time, each handed over once it has been. One
// timer, set to the earliest wait's end, runs only while something waits. A photo that failed
// is not handed over again while it is the same file with the same size and time.
class SettleQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettleQueue)

public:
    explicit SettleQueue(qint64 settleMs, QObject *parent = nullptr);

    // evented: the kernel said it was closed after writing or moved in, and says so of every
    // later write; else it was found by a look, and has to stay unchanged over a whole wait.
    void arm(const QString &path, bool evented);
    // Written again: its wait starts over; one found by a look waits for the kernel's word
    // that it was closed instead.
    void touch(const QString &path);
    void remove(const QString &path) { m_pending.remove(path); } // its due is passed over
    bool contains(const QString &path) const { return m_pending.contains(path); }
    void setFailed(const FileIdentity &identity);

Q_SIGNALS:
    void settled(const QString &path, const FileIdentity &identity);

private:
    struct Pending
    {
        qint64 due = 0; // on m_clock
        bool evented = false;
        FileIdentity identity;
    };

    void settleDue();
    void schedule();

    qint64 m_settleMs;
    QHash<QString, Pending> m_pending;
    // Each wait's end; a wait that was started over is moved when its old end comes up.
    std::multimap<qint64, QString> m_dues;
    // (device, inode) -> (size, modification time) of photos that failed.
    QHash<QPair<quint64, quint64>, QPair<qint64, qint64>> m_failed;
    QElapsedTimer m_clock;
    QTimer m_timer;
};
