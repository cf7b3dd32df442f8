#include "httplogging.h"

namespace quenmar {

Q_LOGGING_CATEGORY(httpLog, "ondaspa.http", QtInfoMsg)

} // namespace quenmar
