#pragma once

#include <QObject>
#include <QString>

#include <memory>

class Preferences;
struct TaskItem;

// The bytes saved and photos converted over all runs, shared with other processes of the user.
class LifetimeStats final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(LifetimeStats)

public:
    static const QString lifetimeBytesKey;
    static const QString lifetimeCountKey;

    explicit LifetimeStats(QObject *parent = nullptr);
    ~LifetimeStats() override;

    qint64 savedBytes() const { return m_savedBytes; }
    qint64 processedCount() const { return m_processedCount; }

    // Counts a finished job that completed and saved something; stores the totals at once.
    void count(const TaskItem &task);

Q_SIGNALS:
    void changed();

private:
    std::unique_ptr<Preferences> m_preferences;
    qint64 m_savedBytes = 0;
    qint64 m_processedCount = 0;
};
