#include "desktopopener.h"

#include <QProcess>
#include <QStringList>

namespace DesktopOpener {

bool openWithDefaultApplication(const QUrl &url)
{
    // Only absolute addresses: a path or a scheme-qualified URL can never be read as an option.
    QString argument;
    if (url.isLocalFile())
        argument = url.toLocalFile();
    else if (url.isValid() && !url.isRelative())
        argument = url.toString(QUrl::FullyEncoded);
    if (argument.isEmpty() || argument.startsWith(u'-'))
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {argument});
}

} // namespace DesktopOpener
