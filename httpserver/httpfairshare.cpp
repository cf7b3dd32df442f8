#include "httpfairshare.h"

#include <QSettings>

namespace quenmar {

HttpFairShare HttpFairShare::fromSettings(const QSettings &settings)
{
    HttpFairShare result;
    result.minTransferRate =
            settings.value(QStringLiteral("minTransferRate"), result.minTransferRate).toLongLong();
    result.transferRateWindow =
            settings.value(QStringLiteral("transferRateWindow"), defaultTransferRateWindow)
                    .toLongLong()
            * 1000;
    return result;
}

int HttpFairShare::addressLimit(int maxConnectionsPerAddress, int maxThreads)
{
    const int share =
            maxThreads >= smallestSharedPool ? maxThreads - maxThreads / roomForOthersDivisor : 0;
    if (maxConnectionsPerAddress <= 0)
        return share;
    if (share <= 0)
        return maxConnectionsPerAddress;
    return qMin(maxConnectionsPerAddress, share);
}

bool HttpFairShare::isCrowded(int busyHandlers, int maxThreads)
{
    const int room = qMax(1, maxThreads / crowdedRoomDivisor);
    return maxThreads - busyHandlers <= room;
}

} // namespace quenmar
