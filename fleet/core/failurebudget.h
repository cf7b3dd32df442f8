#ifndef FAILUREBUDGET_H
#define FAILUREBUDGET_H

#include <QString>

// How many devices of a run may fail before it halts: a count, or a
// percentage of the run's devices (rounded down). Off by default. Plain value.
struct FailureBudget
{
    // Largest count or percentage; a budget above it spends nothing.
    static constexpr int max_value = 100000;
    static constexpr int whole_percent = 100;

    // -1: no budget; else the count or the percentage.
    int value = -1;
    bool percent = false;

    bool is_on() const { return value >= 0; }
    // Failures a run of device_count devices may have without halting; -1 when off.
    int allowed(int device_count) const;
    // "N" or "N%" with N from 0 to max_value (at most 100 with "%"); false,
    // budget untouched, for anything else.
    static bool parse(const QString &text, FailureBudget *budget);
    // The form parse() reads; empty when off.
    QString text() const;
};

#endif // FAILUREBUDGET_H
