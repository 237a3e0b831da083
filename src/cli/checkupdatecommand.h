#pragma once

#include <QStringList>

// `pikora-cli check-update [--feed URL]`: one manual update check, its outcome on the terminal.
// arguments are those after "check-update". Returns 0 when a feed answered, 1 when the check
// failed, 2 for bad usage.
int checkUpdateCommand(const QStringList &arguments);
