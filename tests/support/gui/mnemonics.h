#pragma once

#include <QStringList>

class QMenuBar;

namespace Mnemonics {

// The menu titles and items of bar without a mnemonic of their own among their neighbours: Alt
// and the letter open a title's menu, the letter alone picks an item in its menu.
QStringList problems(const QMenuBar *bar);

} // namespace Mnemonics
