// The calls of HttpNativeSocket that differ by system, on POSIX systems.

#include "httpnativesocket.h"

#include "httpnativesocketsystem.h"

#include <cerrno>
#ifdef Q_OS_LINUX
#include <csignal>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#endif

namespace quenmar {
namespace HttpNativeSocket {

namespace {

// Most of the peer's early bytes dropped before an immediate close; a request line and its
// headers fit, while a peer that keeps sending cannot hold the caller.
constexpr int discardLimit = 65536;

#ifdef Q_OS_LINUX
// The C library's tcp_info ends before the byte counters the kernel has filled since Linux 4.1;
// <linux/tcp.h>, which has them, clashes with <netinet/tcp.h>. The kernel's layout goes on with
// these fields.
struct TcpInfoWithCounters
{
    tcp_info base;
    quint64 pacingRate;
    quint64 maxPacingRate;
    quint64 bytesAcknowledged;
    quint64 bytesReceived;
};
#endif

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
                nativeSocket(descriptor), fileDescriptor, &from, static_cast<size_t>(size));
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
    const int socket = nativeSocket(descriptor);
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

qint64 transferredBytes(qintptr descriptor)
{
#ifdef Q_OS_LINUX
    TcpInfoWithCounters information{};
    socklen_t length = sizeof information;
    if (::getsockopt(nativeSocket(descriptor), IPPROTO_TCP, TCP_INFO, &information, &length) != 0)
        return TransferredNoConnection;
    // A kernel older than the counters fills only the part before them.
    if (length < sizeof information)
        return TransferredUnknown;
    return qint64(information.bytesReceived + information.bytesAcknowledged);
#else
    Q_UNUSED(descriptor)
    return TransferredUnknown;
#endif
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
