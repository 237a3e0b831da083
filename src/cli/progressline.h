#pragma once

#include <QElapsedTimer>
#include <QString>

// The one status line a run redraws on a terminal: a bar, the jobs done, the bytes saved, the time.
class ProgressLine final
{
public:
    // Disabled, it draws nothing (output to a pipe, --json, --quiet) but still keeps the time.
    explicit ProgressLine(bool enabled);

    void draw(qsizetype done, qsizetype total, qint64 saved);
    // Without the bytes saved, for runs that save none.
    void draw(qsizetype done, qsizetype total);
    // Wipes the line, so that a job's line can be written in its place.
    void clear();
    qint64 elapsed() const;
    bool isEnabled() const { return m_enabled; }

private:
    void drawLine(qsizetype done, qsizetype total, const QString &note);

    bool m_enabled;
    QElapsedTimer m_clock;
};
