#include "corelog.h"

Q_LOGGING_CATEGORY(lcCore, "pikora.core", QtWarningMsg)
