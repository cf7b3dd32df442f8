#include "applogging.h"

Q_LOGGING_CATEGORY(appLog, "ondaspa.app", QtInfoMsg)
