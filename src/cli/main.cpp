#include "checkupdatecommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("check-update"))
        return checkUpdateCommand(arguments.mid(1));
    return 0;
}
