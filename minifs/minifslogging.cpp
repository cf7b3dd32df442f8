#include "minifslogging.h"

Q_LOGGING_CATEGORY(minifsLog, "ondaspa.minifs", QtInfoMsg)
