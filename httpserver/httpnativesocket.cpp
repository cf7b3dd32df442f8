// The calls of HttpNativeSocket that read the same on every system; the others are in one file per
// platform.

#include "httpnativesocket.h"

#include "httpnativesocketsystem.h"

namespace quenmar {
namespace HttpNativeSocket {

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    AddressLength length = sizeof address;
    if (::getpeername(nativeSocket(descriptor), reinterpret_cast<sockaddr *>(&address), &length)
            != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

bool shutdownSending(qintptr descriptor)
{
    return ::shutdown(nativeSocket(descriptor), shutdownSendingMode) == 0;
}

bool shutdownBoth(qintptr descriptor)
{
    return ::shutdown(nativeSocket(descriptor), shutdownBothMode) == 0;
}

bool setListenBacklog(qintptr descriptor, int backlog)
{
    return ::listen(nativeSocket(descriptor), backlog) == 0;
}

} // namespace HttpNativeSocket
} // namespace quenmar
