#ifndef SYSTEMFLEETCLOCK_H
#define SYSTEMFLEETCLOCK_H

#include "fleetclock.h"

#include <QElapsedTimer>
#include <QTimer>

// The fleet engine's clock in a running program: a monotonic timer and a
// single-shot timer of the event loop. Lives on the engine's thread.
class SystemFleetClock : public FleetClock
{
public:
    SystemFleetClock();

    qint64 now() const override;
    void set_wake(std::function<void()> wake) override;
    void wake_at(qint64 at) override;

private:
    QElapsedTimer elapsed;
    QTimer timer;
    std::function<void()> wake_function;
};

#endif // SYSTEMFLEETCLOCK_H
