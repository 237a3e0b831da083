#include "mnemonics.h"

#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace Mnemonics {

QStringList problems(const QMenuBar *bar)
{
    QStringList problems;
    const auto check = [&](const QList<QAction *> &actions) {
        QStringList keys;
        for (const QAction *action : actions) {
            const QString key = QKeySequence::mnemonic(action->text()).toString();
            if (!action->isSeparator() && (key.isEmpty() || keys.contains(key)))
                problems.append(action->text());
            keys.append(key);
        }
    };
    check(bar->actions());
    for (const QAction *menu : bar->actions())
        check(menu->menu()->actions());
    return problems;
}

} // namespace Mnemonics
