#pragma once

#include "model/taskitem.h"
#include "ui/batchfigures.h"
#include "ui/glasspanel.h"

class AppActions;
class BatchRunner;
class ToolStatus;
class Workspace;
class QLabel;
class QToolButton;

// What the status island shows, read from the state in one place.
struct StatusFacts
{
    ConversionMode mode = ConversionMode::jpegToJXL;
    bool toolReady = true; // the shown direction's tool
    BatchFigures batch;
    // The shown list.
    int count = 0;
    qint64 totalSize = 0;
    qint64 savedBytes = 0;
    int failedCount = 0;  // that a retry can mend
    int skippedCount = 0; // left as a former run made them
    int notSmallerCount = 0;

    static StatusFacts of(const Workspace &workspace, const ToolStatus &tools, const BatchRunner &runner);
};

// "约 2 分钟": the time a batch still needs, rounded up to whole minutes.
QString remainingTimeText(qint64 seconds);

// The left island of the chrome bar: a running batch's progress, a missing tool, or the shown
// list's count, size and savings with its clear and retry buttons.
class StatusIsland final : public GlassPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatusIsland)

public:
    enum class Face { processing, toolMissing, idle };

    StatusIsland(AppActions *actions, QWidget *parent = nullptr);

    void setFacts(const StatusFacts &facts);
    Face face() const { return m_face; }
    // The texts a user reads now, left to right (labels and button texts).
    QStringList visibleTexts() const;
    QToolButton *clearButton() const { return m_clear; }
    QToolButton *retryButton() const { return m_retry; }

Q_SIGNALS:
    // A click on the missing-tool face: the user wants to say where the tool is.
    void toolPathRequested(const QString &tool);

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    class Spinner;

    Face m_face = Face::idle;
    QString m_missingTool;
    QLabel *m_warningIcon;
    QLabel *m_warning;
    Spinner *m_spinner;
    QLabel *m_progress;
    QLabel *m_remainingDot;
    QLabel *m_remaining;
    QLabel *m_skippedDot;
    QLabel *m_skipped;
    QLabel *m_notSmallerDot;
    QLabel *m_notSmaller;
    QLabel *m_count;
    QLabel *m_sizeDot;
    QLabel *m_size;
    QLabel *m_savedDot;
    QLabel *m_saved;
    QToolButton *m_clear;
    QToolButton *m_retry;
};
