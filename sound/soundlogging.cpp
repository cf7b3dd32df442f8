#include "soundlogging.h"

Q_LOGGING_CATEGORY(soundLog, "ondaspa.sound", QtInfoMsg)
