#ifndef LOGTIME_H
#define LOGTIME_H

#include <QString>

// The full local time that leads each line of a saved log and each line the
// command line writes to stderr, in one layout: "2024-05-01 13:04:05.123",
// 24-hour. Plain function; any thread.
class LogTime
{
public:
    // The layout, for QDateTime::toString() and the message pattern's %{time}.
    static QString format();
};

#endif // LOGTIME_H
