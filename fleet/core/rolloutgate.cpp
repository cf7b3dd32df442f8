#include "rolloutgate.h"

void RolloutGate::begin(
        const QVector<int> &commanded, int canary_count, const FailureBudget &budget, int run_size)
{
    canaries.clear();
    for (int at = 0; at < qMin(canary_count, commanded.size()); ++at)
        canaries.insert(commanded.at(at));
    canaries_waiting = canaries;
    failed_devices.clear();
    allowed = budget.allowed(run_size);
    halted = Halt::None;
    halted_by = -1;
}

bool RolloutGate::may_start(int index) const
{
    return halted == Halt::None && (canaries_waiting.isEmpty() || canaries.contains(index));
}

void RolloutGate::succeeded(int index)
{
    canaries_waiting.remove(index);
}

bool RolloutGate::failed(int index)
{
    failed_devices.insert(index);
    if (halted != Halt::None)
        return false;
    if (canaries_waiting.contains(index))
        halted = Halt::CanaryFailed;
    else if (allowed >= 0 && failed_devices.size() > allowed)
        halted = Halt::TooManyFailures;
    else
        return false;
    halted_by = index;
    return true;
}

void RolloutGate::revived(int index)
{
    failed_devices.remove(index);
}
