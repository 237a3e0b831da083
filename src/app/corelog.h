#pragma once

#include <QLoggingCategory>

// Diagnostics of the core that no caller has to act on. Warnings go to Qt's message handler;
// debug lines only when enabled (QT_LOGGING_RULES="pikora.core.debug=true").
Q_DECLARE_LOGGING_CATEGORY(lcCore)
