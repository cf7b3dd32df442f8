#ifndef QUENMAR_HTTPLOGGING_H
#define QUENMAR_HTTPLOGGING_H

#include <QLoggingCategory>

namespace quenmar {

// The category "ondaspa.http" of the HTTP server's messages. Debug lines (connections, requests,
// threads) are off unless switched on (QT_LOGGING_RULES="ondaspa.http.debug=true"); warnings and
// critical messages always show. Thread-safe.
Q_DECLARE_LOGGING_CATEGORY(httpLog)

} // namespace quenmar

#endif // QUENMAR_HTTPLOGGING_H
