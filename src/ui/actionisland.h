#pragma once

#include "ui/glasspanel.h"

#include <QToolButton>

class AppActions;

// A round icon button on an island: slightly faded at rest, whole when hovered, fainter while
// pressed, with a light disc under the pointer.
class IslandButton final : public QToolButton
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IslandButton)

public:
    explicit IslandButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The right island of the chrome bar: start, or stop while a batch runs.
class ActionIsland final : public GlassPanel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActionIsland)

public:
    ActionIsland(AppActions *actions, QWidget *parent = nullptr);

    void setProcessing(bool processing);
    IslandButton *button() const { return m_button; }

private:
    AppActions *m_actions;
    IslandButton *m_button;
};
