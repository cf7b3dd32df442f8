#include "manualfleetclock.h"

void ManualFleetClock::advance(qint64 milliseconds)
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
