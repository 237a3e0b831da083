#include "ui/maintoolbar.h"

#include "ui/appactions.h"
#include "ui/modeswitch.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QToolButton>

MainToolBar::MainToolBar(AppActions *actions, QWidget *parent)
    : QToolBar(tr("工具栏"), parent)
    , m_modeSwitch(new ModeSwitch(actions, this))
{
    setObjectName(QStringLiteral("MainAppToolbar"));
    setMovable(false);
    setFloatable(false);
    toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::PreventContextMenu);

    // Equal stretch on both sides keeps the switch centred whatever the right group's width.
    auto *content = new QWidget(this);
    auto *grid = new QGridLayout(content);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 1);
    grid->addWidget(m_modeSwitch, 0, 1, Qt::AlignCenter);
    auto *group = new QHBoxLayout;
    group->setSpacing(2);
    group->addStretch(1);
    for (QAction *action : {actions->importPhotos, actions->importFolder, actions->statistics, actions->preferences}) {
        auto *button = new QToolButton(content);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setIconSize(QSize(18, 18));
        button->setFocusPolicy(Qt::StrongFocus);
        group->addWidget(button);
        m_buttons.append(button);
        if (action == actions->statistics)
            m_statistics = button;
    }
    grid->addLayout(group, 0, 2);
    addWidget(content);
}
