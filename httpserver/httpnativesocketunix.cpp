// The socket calls of HttpNativeSocket on POSIX systems.

#include "httpnativesocket.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace quenmar {
namespace HttpNativeSocket {

namespace {

// Most of the peer's early bytes dropped before an immediate close; a request line and its
// headers fit, while a peer that keeps sending cannot hold the caller.
constexpr int discardLimit = 65536;

} // namespace

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr *>(&address), &length)
            != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

bool shutdownSending(qintptr descriptor)
{
    return ::shutdown(static_cast<int>(descriptor), SHUT_WR) == 0;
}

bool shutdownBoth(qintptr descriptor)
{
    return ::shutdown(static_cast<int>(descriptor), SHUT_RDWR) == 0;
}

bool closeDescriptor(qintptr descriptor)
{
    return ::close(static_cast<int>(descriptor)) == 0;
}

bool setListenBacklog(qintptr descriptor, int backlog)
{
    return ::listen(static_cast<int>(descriptor), backlog) == 0;
}

qint64 sendWithoutBlocking(qintptr descriptor, const char *data, qint64 size)
{
    for (;;) {
        // MSG_NOSIGNAL: a vanished peer is an error value here, not a SIGPIPE for the process.
        const ssize_t sent = ::send(static_cast<int>(descriptor), data, static_cast<size_t>(size),
                MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent >= 0)
            return sent;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
}

bool answerAndClose(qintptr descriptor, const char *answer, qint64 size)
{
    const int socket = static_cast<int>(descriptor);
    char discarded[4096];
    for (int dropped = 0; dropped < discardLimit;) {
        const ssize_t count = ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT);
        if (count <= 0)
            break;
        dropped += int(count);
    }
    const bool sent = sendWithoutBlocking(descriptor, answer, size) == size;
    ::shutdown(socket, SHUT_WR);
    ::close(socket);
    return sent;
}

} // namespace HttpNativeSocket
} // namespace quenmar
