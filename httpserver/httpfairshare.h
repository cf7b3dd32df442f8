#ifndef QUENMAR_HTTPFAIRSHARE_H
#define QUENMAR_HTTPFAIRSHARE_H

// A plain value, read on the settings object's thread.

#include <QtGlobal>

class QSettings;

namespace quenmar {

// The rules that keep room in the pool of connection handlers for every client: how many
// handlers one peer address may hold, when the pool is crowded, and the transfer-rate floor
// below which a connection gives way to newcomers while it is.
struct HttpFairShare
{
    // Values of the keys when they are absent.
    // Bytes per second: far below any device's download, even over a weak wireless link, and
    // above a client that takes 16 KiB every 12 s to hold a handler just inside the stall limit.
    static constexpr qint64 defaultMinTransferRate = 4096;
    static constexpr int defaultTransferRateWindow = 30; // seconds
    // Pools smaller than this serve one client (a single device, a test) and keep no room for
    // others.
    static constexpr int smallestSharedPool = 4;
    // One address may hold all but this fraction (1/n) of a shared pool.
    static constexpr int roomForOthersDivisor = 4;
    // The pool is crowded when at most this fraction (1/n) of its handlers is free, or at most
    // one handler in a pool too small for the fraction to reach one.
    static constexpr int crowdedRoomDivisor = 16;

    // A connection that moved fewer bytes per second than this ("minTransferRate") over the
    // last window of transferRateWindow milliseconds ("transferRateWindow", read in seconds) is
    // closed when a newcomer finds the pool crowded; 0 in either turns this off.
    qint64 minTransferRate = defaultMinTransferRate;
    qint64 transferRateWindow = defaultTransferRateWindow * 1000;

    // Reads "minTransferRate" and "transferRateWindow" in the settings' current group; absent
    // keys keep the defaults above. Call it on the settings object's thread.
    static HttpFairShare fromSettings(const QSettings &settings);

    bool closesSlowConnections() const { return minTransferRate > 0 && transferRateWindow > 0; }
    // True for a rate of a whole window (see HttpTransferMeter::rate()) below the floor.
    bool isTooSlow(qint64 rate) const { return rate >= 0 && rate < minTransferRate; }

    // The most connections one peer address may hold: "maxConnectionsPerAddress" (0 or below:
    // no cap of its own), and in a shared pool at most maxThreads less the room kept for others.
    // 0 means no limit.
    static int addressLimit(int maxConnectionsPerAddress, int maxThreads);
    // True when busyHandlers leave so little of maxThreads free that slow connections give way.
    static bool isCrowded(int busyHandlers, int maxThreads);
};

} // namespace quenmar

#endif // QUENMAR_HTTPFAIRSHARE_H
