#ifndef APPLOGGING_H
#define APPLOGGING_H

#include <QLoggingCategory>

// The category "ondaspa.app" of start-up's developer diagnostics. Debug lines
// are off unless switched on (QT_LOGGING_RULES="ondaspa.app.debug=true");
// warnings and critical messages always show. Thread-safe.
Q_DECLARE_LOGGING_CATEGORY(appLog)

#endif // APPLOGGING_H
