#ifndef ROLLOUTGATE_H
#define ROLLOUTGATE_H

#include "failurebudget.h"

#include <QSet>
#include <QVector>

// What holds a fleet run back: its canary devices, which alone get commands
// until each has succeeded, and its failure budget. Says which device may
// start and when the run must halt; the engine does the rest. Plain value,
// the engine's thread.
class RolloutGate
{
public:
    enum class Halt {
        None,
        CanaryFailed, // a canary ended for good without success
        TooManyFailures, // more devices failed than the budget allows
    };

    // A run over commanded (the devices that will get a command, in order): the
    // first canary_count of them are its canaries; budget counts against
    // run_size devices.
    void begin(const QVector<int> &commanded, int canary_count, const FailureBudget &budget,
            int run_size);
    // Whether the device may get a command now.
    bool may_start(int index) const;
    void succeeded(int index);
    // A device ended for good without success. True when the run must halt
    // because of it (once per run).
    bool failed(int index);
    // A failed device turned up after all (a late download): no longer counted.
    void revived(int index);

    Halt halt() const { return halted; }
    // The device whose failure halted the run, or -1.
    int halt_device() const { return halted_by; }
    int failures() const { return failed_devices.size(); }
    // Failures allowed; -1 without a budget.
    int allowed_failures() const { return allowed; }

private:
    QSet<int> canaries;
    // Canaries that have not succeeded yet.
    QSet<int> canaries_waiting;
    QSet<int> failed_devices;
    int allowed = -1;
    Halt halted = Halt::None;
    int halted_by = -1;
};

#endif // ROLLOUTGATE_H
