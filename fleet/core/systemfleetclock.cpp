#include "systemfleetclock.h"

#include <limits>

SystemFleetClock::SystemFleetClock()
{
    elapsed.start();
    timer.setSingleShot(true);
    // Time-outs are seconds long; a coarse timer would still be right, but
    // the precise one keeps the reported times honest.
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        if (wake_function)
            wake_function();
    });
}

qint64 SystemFleetClock::now() const
{
    return elapsed.elapsed();
}

void SystemFleetClock::set_wake(std::function<void()> wake)
{
    wake_function = std::move(wake);
}

void SystemFleetClock::wake_at(qint64 at)
{
    if (at < 0) {
        timer.stop();
        return;
    }
    timer.start(int(qBound(qint64(0), at - now(), qint64(std::numeric_limits<int>::max()))));
}
