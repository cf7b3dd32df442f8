// The program as main.cpp runs it, with the upgrade window shown (as during
// an upgrade) and a probe of the GUI thread's event-loop latency: a 10 ms
// single-shot timer, re-armed at every call, records how late each call comes
// after its due time. On SIGUSR1 the probe prints the lateness percentiles
// since the previous report to standard output and starts afresh. Used by
// serving.sh in place of the bare program; POSIX only.

#include "launcherprogram.h"
#include "widget.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 intervalNanoseconds = 10 * 1000 * 1000;

std::atomic<bool> reportRequested{ false };

void requestReport(int)
{
    reportRequested = true;
}

// Owned by its parent, so it goes before the application object.
class LatencyProbe : public QObject
{
public:
    explicit LatencyProbe(QObject *parent) : QObject(parent)
    {
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
        clock.start();
        arm();
    }

private:
    void arm()
    {
        due = clock.nsecsElapsed() + intervalNanoseconds;
        timer.start(int(intervalNanoseconds / 1000000));
    }

    void tick()
    {
        lateness.push_back(std::max<qint64>(0, clock.nsecsElapsed() - due));
        if (reportRequested.exchange(false))
            report();
        arm();
    }

    void report()
    {
        std::sort(lateness.begin(), lateness.end());
        const auto at = [&](double share) {
            return double(lateness[std::min(lateness.size() - 1, size_t(share * lateness.size()))])
                    / 1e6;
        };
        std::printf("latency: samples %zu p50 %.2f ms p99 %.2f ms max %.2f ms\n", lateness.size(),
                at(0.5), at(0.99), double(lateness.back()) / 1e6);
        std::fflush(stdout);
        lateness.clear();
    }

    QTimer timer;
    QElapsedTimer clock;
    qint64 due = 0;
    std::vector<qint64> lateness;
};

} // namespace

int main(int argc, char *argv[])
{
    return run_launcher_program(argc, argv, [](Widget &launcher) {
        launcher.upgrade_window.show();
        std::signal(SIGUSR1, requestReport);
        new LatencyProbe(&launcher);
    });
}
