#ifndef FLEETSETTINGS_H
#define FLEETSETTINGS_H

#include <QString>

// The fleet dialog's run settings, remembered in the settings file, group
// FLEET: PARALLEL (devices upgrading at once), TIMEOUT (seconds a device may
// take to ask for its image), RETRIES (further commands to a device that did
// not answer or broke off) and CONFIRM (seconds to wait for a device to
// answer again after its download; 0 turns confirmation off). Values outside
// their ranges are brought inside. Plain value; any thread.
struct FleetSettings
{
    // The window's HTTP server runs at most 100 connection threads; a device
    // may hold two connections for a moment (HEAD, then GET), so 32 at once
    // never meet a 503.
    static constexpr int max_parallel = 32;
    // An hour: longer waits mean something is wrong with the site, not slow.
    static constexpr int max_seconds = 3600;
    static constexpr int max_retries = 10;

    int parallel = 8;
    int timeout_seconds = 60;
    int retries = 1;
    int confirm_seconds = 0;

    // Reads the group from the INI file at path; defaults for missing keys.
    static FleetSettings load(const QString &path);
    // Writes the group; false when the file cannot be written.
    bool save(const QString &path) const;
    // Each value inside its range.
    FleetSettings bounded() const;
};

#endif // FLEETSETTINGS_H
