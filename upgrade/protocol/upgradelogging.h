#ifndef UPGRADELOGGING_H
#define UPGRADELOGGING_H

#include <QLoggingCategory>

// The category "ondaspa.upgrade" of the device upgrade (discovery, window, file service)'s developer diagnostics.
// Debug lines are off unless switched on (QT_LOGGING_RULES="ondaspa.upgrade.debug=true");
// warnings and critical messages always show. Thread-safe.
Q_DECLARE_LOGGING_CATEGORY(upgradeLog)

#endif // UPGRADELOGGING_H
