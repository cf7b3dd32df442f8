#ifndef MINIFSBUILDLISTENER_H
#define MINIFSBUILDLISTENER_H

#include <QString>

// Receives what a MiniFs build reports while it runs, on the builder's thread.
class MiniFsBuildListener
{
public:
    virtual ~MiniFsBuildListener() = default;

    // The user-facing log is to start afresh.
    virtual void logCleared() = 0;
    // One user-facing progress line.
    virtual void logLine(const QString &line) = 0;
    // One developer diagnostic: a fixed literal followed by quoted values.
    virtual void debugLine(const QString &line) = 0;
};

#endif // MINIFSBUILDLISTENER_H
