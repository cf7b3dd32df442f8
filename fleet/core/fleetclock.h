#ifndef FLEETCLOCK_H
#define FLEETCLOCK_H

#include <QtGlobal>

#include <functional>

// The fleet engine's sense of time: a monotonic clock and one pending wake-up.
// Tests substitute a clock they advance by hand. Used on the engine's thread.
class FleetClock
{
public:
    // The clock and the fleet's times count milliseconds.
    static constexpr int milliseconds_per_second = 1000;

    virtual ~FleetClock() = default;

    // Milliseconds since a fixed start; never decreases.
    virtual qint64 now() const = 0;
    // The function called at a wake-up; set once by the engine.
    virtual void set_wake(std::function<void()> wake) = 0;
    // Calls the wake function once, at time at or soon after (at once when it
    // has passed), replacing any wake-up asked for before. at < 0 cancels.
    virtual void wake_at(qint64 at) = 0;
};

#endif // FLEETCLOCK_H
