#ifndef MANUALFLEETCLOCK_H
#define MANUALFLEETCLOCK_H

#include "fleetclock.h"

// A fleet clock that moves only when told, running due wake-ups on the way:
// for tests and for rendering the fleet view without waiting. One thread.
class ManualFleetClock : public FleetClock
{
public:
    qint64 now() const override { return time; }
    void set_wake(std::function<void()> wake) override { wake_function = std::move(wake); }
    void wake_at(qint64 at) override { pending = at; }

    // Moves the time forward by milliseconds.
    void advance(qint64 milliseconds);
    // The wake-up asked for; -1 when none.
    qint64 pending_wake() const { return pending; }

private:
    qint64 time = 0;
    qint64 pending = -1;
    std::function<void()> wake_function;
};

#endif // MANUALFLEETCLOCK_H
