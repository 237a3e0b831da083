#pragma once

#include <QString>
#include <QStringList>

// Values as desktop entries (and the file managers' action files modelled on them) read them.
namespace DesktopEntry {

// One Exec= argument: a literal % doubled, quoted when it holds a reserved character (with ", `,
// $ and \ escaped inside the quotes), then the key file's own backslash escaping on top.
QString execArgument(const QString &text);

// The arguments joined into an Exec= value, each quoted as execArgument quotes it.
QString execLine(const QStringList &arguments);

} // namespace DesktopEntry
