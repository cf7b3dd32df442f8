#ifndef RAWSOCKET_H
#define RAWSOCKET_H

// The bare socket API for test clients that must control what the system queues (small
// receive buffers, no reading); the few calls that differ between the systems.

#include <QtGlobal>

#include <cerrno>

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#endif
#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// The few calls of the bare socket API that differ between the systems.
namespace rawsocket {
#ifdef Q_OS_WIN
using Descriptor = SOCKET;
constexpr Descriptor none = INVALID_SOCKET;
inline void close(Descriptor descriptor)
{
    ::closesocket(descriptor);
}
inline void makeNonBlocking(Descriptor descriptor)
{
    u_long on = 1;
    ::ioctlsocket(descriptor, FIONBIO, &on);
}
inline bool wouldBlock()
{
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}
inline int poll(pollfd *entry)
{
    return ::WSAPoll(entry, 1, 0);
}
constexpr int sendFlags = 0;
constexpr int shutBoth = SD_BOTH;
#else
using Descriptor = int;
constexpr Descriptor none = -1;
inline void close(Descriptor descriptor)
{
    ::close(descriptor);
}
inline void makeNonBlocking(Descriptor) { }
inline bool wouldBlock()
{
    return errno == EAGAIN || errno == EWOULDBLOCK;
}
inline int poll(pollfd *entry)
{
    return ::poll(entry, 1, 0);
}
constexpr int sendFlags = MSG_DONTWAIT | MSG_NOSIGNAL;
constexpr int shutBoth = SHUT_RDWR;
#endif
#ifdef MSG_DONTWAIT
constexpr int receiveFlags = MSG_DONTWAIT;
#else
constexpr int receiveFlags = 0;
#endif
} // namespace rawsocket

#endif // RAWSOCKET_H
