#include "httpnativesocket.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#ifdef Q_OS_LINUX
#include <csignal>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#endif
#endif

namespace quenmar {
namespace HttpNativeSocket {

namespace {

// Most of the peer's early bytes dropped before an immediate close; a request line and its
// headers fit, while a peer that keeps sending cannot hold the caller.
constexpr int discardLimit = 65536;

#ifdef Q_OS_WIN
using NativeSocket = SOCKET;
using AddressLength = int;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
#endif

} // namespace

QHostAddress peerAddress(qintptr descriptor)
{
    sockaddr_storage address{};
    AddressLength length = sizeof address;
    if (::getpeername(static_cast<NativeSocket>(descriptor), reinterpret_cast<sockaddr *>(&address),
                &length)
            != 0)
        return QHostAddress();
    const QHostAddress peer(reinterpret_cast<const sockaddr *>(&address));
    bool mapped = false;
    const quint32 ipv4 = peer.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : peer;
}

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

qint64 sendFileWithoutBlocking(qintptr, int, qint64, qint64)
{
    return FileSendUnsupported;
}

qint64 unacknowledgedBytes(qintptr)
{
    return OutputQueueUnknown;
}

bool answerAndClose(qintptr descriptor, const char *answer, qint64 size)
{
    const auto socket = static_cast<SOCKET>(descriptor);
    const bool sent = ::send(socket, answer, static_cast<int>(size), 0) == size;
    ::shutdown(socket, SD_SEND);
    ::closesocket(socket);
    return sent;
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

qint64 sendFileWithoutBlocking(qintptr descriptor, int fileDescriptor, qint64 offset, qint64 size)
{
#ifdef Q_OS_LINUX
    // sendfile has no MSG_NOSIGNAL: a vanished peer would raise SIGPIPE, which ends the process.
    // Blocked in this thread instead, once, so the peer shows as an error value; a SIGPIPE then
    // stays pending for this thread, where nothing unblocks it.
    thread_local bool brokenPipeBlocked = false;
    if (!brokenPipeBlocked) {
        sigset_t brokenPipe;
        sigemptyset(&brokenPipe);
        sigaddset(&brokenPipe, SIGPIPE);
        if (pthread_sigmask(SIG_BLOCK, &brokenPipe, nullptr) != 0)
            return FileSendUnsupported;
        brokenPipeBlocked = true;
    }
    for (;;) {
        off_t from = offset;
        // The socket is non-blocking, as Qt sets every socket it manages.
        const ssize_t sent = ::sendfile(
                static_cast<int>(descriptor), fileDescriptor, &from, static_cast<size_t>(size));
        if (sent >= 0)
            return sent;
        switch (errno) {
        case EINTR:
            continue;
        case EAGAIN:
            return FileSendWouldBlock;
        case EINVAL:
        case ENOSYS:
        case EIO:
        case EOVERFLOW:
        case ESPIPE:
        case ENOMEM:
            return FileSendUnsupported;
        default:
            return FileSendFailed;
        }
    }
#else
    Q_UNUSED(descriptor)
    Q_UNUSED(fileDescriptor)
    Q_UNUSED(offset)
    Q_UNUSED(size)
    return FileSendUnsupported;
#endif
}

qint64 unacknowledgedBytes(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    const int socket = static_cast<int>(descriptor);
    // A reset connection has dropped its queue, so the state must be checked as well: only an
    // open connection (or one the peer half-closed) can still deliver.
    tcp_info information{};
    socklen_t length = sizeof information;
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &information, &length) != 0)
        return OutputQueueUnknown;
    if (information.tcpi_state != TCP_ESTABLISHED && information.tcpi_state != TCP_CLOSE_WAIT)
        return OutputQueueFailed;
    int queued = 0;
    if (::ioctl(socket, SIOCOUTQ, &queued) != 0)
        return OutputQueueUnknown;
    return queued;
#else
    Q_UNUSED(descriptor)
    return OutputQueueUnknown;
#endif
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

#endif

} // namespace HttpNativeSocket
} // namespace quenmar
