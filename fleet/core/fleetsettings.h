#ifndef FLEETSETTINGS_H
#define FLEETSETTINGS_H

#include "fleetclock.h"
#include "fleetengine.h"

#include <QString>

// The fleet dialog's run settings, remembered in the settings file, group
// FLEET: PARALLEL (devices upgrading at once), TIMEOUT (seconds a device may
// take to ask for its image), RETRIES (further commands to a device that did
// not answer or broke off) and CONFIRM (seconds to wait for a device to
// answer again after its download; 0 turns confirmation off), CANARY (devices
// that go first; 0: off), MAX_FAILURES (the failure budget, "N" or "N%"; empty:
// none), SKIP_VERSION_ON and SKIP_VERSION (devices at that "ver" are skipped).
// Values outside
// their ranges are brought inside; missing ones are the engine's defaults.
// Plain value; any thread.
struct FleetSettings
{
    // The window's HTTP server runs at most 100 connection threads; a device
    // may hold two connections for a moment (HEAD, then GET), so 32 at once
    // never meet a 503.
    static constexpr int max_parallel = 32;
    // An hour: longer waits mean something is wrong with the site, not slow.
    static constexpr int max_seconds = 3600;
    static constexpr int max_retries = 10;
    // Canaries beyond the table's first rows would be the whole run.
    static constexpr int max_canary = 1000;

    int parallel = FleetEngine::Run::default_parallel;
    int timeout_seconds =
            FleetEngine::Run::default_timeout_ms / FleetClock::milliseconds_per_second;
    int retries = FleetEngine::Run::default_retries;
    int confirm_seconds =
            FleetEngine::Run::default_confirm_ms / FleetClock::milliseconds_per_second;
    int canary = 0;
    FailureBudget max_failures;
    // skip_version is remembered while the switch is off.
    bool skip_version_on = false;
    QString skip_version;

    // Reads the group from the INI file at path; defaults for missing keys.
    static FleetSettings load(const QString &path);
    // Writes the group; false when the file cannot be written.
    bool save(const QString &path) const;
    // Each value inside its range.
    FleetSettings bounded() const;
    // Sets the run's parallel limit, time-out, retries, confirmation, canaries, failure
    // budget and the version skipped.
    void apply_to(FleetEngine::Run *run) const;
};

#endif // FLEETSETTINGS_H
