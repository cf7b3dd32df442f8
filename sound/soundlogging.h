#ifndef SOUNDLOGGING_H
#define SOUNDLOGGING_H

#include <QLoggingCategory>

// The category "ondaspa.sound" of the audio compressor's developer diagnostics.
// Debug lines are off unless switched on (QT_LOGGING_RULES="ondaspa.sound.debug=true");
// warnings and critical messages always show. Thread-safe.
Q_DECLARE_LOGGING_CATEGORY(soundLog)

#endif // SOUNDLOGGING_H
