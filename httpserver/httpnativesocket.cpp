#include "httpnativesocket.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quenmar {
namespace HttpNativeSocket {

#ifdef Q_OS_WIN

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

qint64 sendWithoutBlocking(qintptr, const char *, qint64)
{
    return 0;
}

#else

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

#endif

} // namespace HttpNativeSocket
} // namespace quenmar
