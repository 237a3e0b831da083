#pragma once

#include <QString>

// `pikora-cli check-update [--feed URL]`: one manual update check, its outcome on the terminal.
// An empty feed asks the release feeds. Returns 0 when a feed answered, 1 when the check failed.
int checkUpdateCommand(const QString &feed);
