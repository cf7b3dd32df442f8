#ifndef MINIFSLOGGING_H
#define MINIFSLOGGING_H

#include <QLoggingCategory>

// The category "ondaspa.minifs" of the MiniFs image builder's developer diagnostics.
// Debug lines are off unless switched on (QT_LOGGING_RULES="ondaspa.minifs.debug=true");
// warnings and critical messages always show. Thread-safe.
Q_DECLARE_LOGGING_CATEGORY(minifsLog)

#endif // MINIFSLOGGING_H
