#pragma once

#include <QTextStream>

// The process's standard output and error, one stream each for every command: two streams on one
// file would each buffer and put their lines out of order.
namespace CliConsole {

QTextStream &out();
QTextStream &err();

} // namespace CliConsole
