#pragma once

#include <QWidget>

class AppActions;
class QToolButton;

// The two-segment switch between compressing and restoring. Each segment is the menu's mode
// command: choosing one switches the mode; following the state only moves the check mark.
class ModeSwitch final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ModeSwitch)

public:
    static constexpr int segmentWidth = 38;

    explicit ModeSwitch(AppActions *actions, QWidget *parent = nullptr);

    QToolButton *segment(int index) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QToolButton *m_segments[2];
};
