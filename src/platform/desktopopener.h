#pragma once

#include <QUrl>

// Hands a file or web page to the desktop's default application.
namespace DesktopOpener {

// Starts xdg-open for the address and does not wait for it. Returns false when the address is
// relative or the opener could not be started; whether the application then succeeds is not known.
bool openWithDefaultApplication(const QUrl &url);

} // namespace DesktopOpener
