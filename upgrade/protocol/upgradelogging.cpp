#include "upgradelogging.h"

Q_LOGGING_CATEGORY(upgradeLog, "ondaspa.upgrade", QtInfoMsg)
