// The calls of HttpNativeSocket that differ by system, on POSIX systems.

#include "httpnativesocket.h"

#include "httpnativesocketsystem.h"

#include <cerrno>

namespace quenmar {
namespace HttpNativeSocket {

namespace {

// Most of the peer's early bytes dropped before an immediate close; a request line and its
// headers fit, while a peer that keeps sending cannot hold the caller.
constexpr int discardLimit = 65536;

} // namespace

bool closeDescriptor(qintptr descriptor)
{
    return ::close(nativeSocket(descriptor)) == 0;
}

qint64 sendWithoutBlocking(qintptr descriptor, const char *data, qint64 size)
{
    for (;;) {
        // MSG_NOSIGNAL: a vanished peer is an error value here, not a SIGPIPE for the process.
        const ssize_t sent = ::send(nativeSocket(descriptor), data, static_cast<size_t>(size),
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
    const NativeSocket socket = nativeSocket(descriptor);
    char discarded[4096];
    for (int dropped = 0; dropped < discardLimit;) {
        const ssize_t count = ::recv(socket, discarded, sizeof discarded, MSG_DONTWAIT);
        if (count <= 0)
            break;
        dropped += int(count);
    }
    const bool sent = sendWithoutBlocking(descriptor, answer, size) == size;
    ::shutdown(socket, shutdownSendingMode);
    ::close(socket);
    return sent;
}

} // namespace HttpNativeSocket
} // namespace quenmar
