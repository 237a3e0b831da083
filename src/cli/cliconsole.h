#pragma once

#include <QCoreApplication>
#include <QTextStream>

// The process's standard output and error, one stream each for every command: two streams on one
// file would each buffer and put their lines out of order.
namespace CliConsole {

QTextStream &out();
QTextStream &err();

} // namespace CliConsole

// The command line's texts, in one translation context whichever file says them.
struct CliTexts
{
    Q_DECLARE_TR_FUNCTIONS(CliCommands)
};
