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

    // Moves the time forward by milliseconds; a wake-up asked for during a
    // wake-up that is due on the way runs too.
    void advance(qint64 milliseconds)
    {
        const qint64 end = time + milliseconds;
        while (pending >= 0 && pending <= end) {
            time = qMax(time, pending);
            pending = -1;
            if (wake_function)
                wake_function();
        }
        time = end;
    }

private:
    qint64 time = 0;
    qint64 pending = -1;
    std::function<void()> wake_function;
};

#endif // MANUALFLEETCLOCK_H
