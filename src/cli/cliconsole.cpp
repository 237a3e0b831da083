#include "cliconsole.h"

#include <cstdio>

namespace CliConsole {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace CliConsole
