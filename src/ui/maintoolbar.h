#pragma once

#include <QToolBar>

class AppActions;
class ModeSwitch;
class QToolButton;

// The window's toolbar: the mode switch in the middle, the add, statistics and settings buttons
// on the right. Every button is one of the window's shared commands.
class MainToolBar final : public QToolBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MainToolBar)

public:
    explicit MainToolBar(AppActions *actions, QWidget *parent = nullptr);

    ModeSwitch *modeSwitch() const { return m_modeSwitch; }
    // Where the statistics panel hangs from.
    QToolButton *statisticsButton() const { return m_statistics; }
    QList<QToolButton *> buttons() const { return m_buttons; }

private:
    ModeSwitch *m_modeSwitch;
    QToolButton *m_statistics = nullptr;
    QList<QToolButton *> m_buttons;
};
