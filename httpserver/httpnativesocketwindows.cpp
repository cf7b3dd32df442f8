// The socket calls of HttpNativeSocket on Windows (Winsock).

#include "httpnativesocket.h"

#include <winsock2.h>

namespace quenmar {
namespace HttpNativeSocket {

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    int length = sizeof address;
    if (::getpeername(
                static_cast<SOCKET>(descriptor), reinterpret_cast<sockaddr *>(&address), &length)
            != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

bool shutdownSending(qintptr descriptor)
{
    return ::shutdown(static_cast<SOCKET>(descriptor), SD_SEND) == 0;
}

bool shutdownBoth(qintptr descriptor)
{
    return ::shutdown(static_cast<SOCKET>(descriptor), SD_BOTH) == 0;
}

bool closeDescriptor(qintptr descriptor)
{
    return ::closesocket(static_cast<SOCKET>(descriptor)) == 0;
}

bool setListenBacklog(qintptr descriptor, int backlog)
{
    return ::listen(static_cast<SOCKET>(descriptor), backlog) == 0;
}

// Not supported here: the caller queues the data instead.
qint64 sendWithoutBlocking(qintptr, const char *, qint64)
{
    return 0;
}

bool answerAndClose(qintptr descriptor, const char *answer, qint64 size)
{
    const auto socket = static_cast<SOCKET>(descriptor);
    const bool sent = ::send(socket, answer, static_cast<int>(size), 0) == size;
    ::shutdown(socket, SD_SEND);
    ::closesocket(socket);
    return sent;
}

} // namespace HttpNativeSocket
} // namespace quenmar
