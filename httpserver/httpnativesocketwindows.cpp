// The calls of HttpNativeSocket that differ by system, on Windows (Winsock).

#include "httpnativesocket.h"

#include "httpnativesocketsystem.h"

#include <mstcpip.h>

namespace quenmar {
namespace HttpNativeSocket {

namespace {

// Windows 10 1703 and later; older systems (and wine) refuse the request.
bool tcpInformation(qintptr descriptor, TCP_INFO_v0 &information)
{
    DWORD version = 0;
    DWORD returned = 0;
    return ::WSAIoctl(nativeSocket(descriptor), SIO_TCP_INFO, &version, sizeof version,
                   &information, sizeof information, &returned, nullptr, nullptr)
            == 0
            && returned >= sizeof information;
}

} // namespace

bool closeDescriptor(qintptr descriptor)
{
    return ::closesocket(nativeSocket(descriptor)) == 0;
}

// Not supported here: the caller queues the data instead.
qint64 sendWithoutBlocking(qintptr, const char *, qint64)
{
    return 0;
}

qint64 sendFileWithoutBlocking(qintptr, int, qint64, qint64)
{
    return FileSendUnsupported;
}

qint64 unacknowledgedBytes(qintptr descriptor)
{
    TCP_INFO_v0 information{};
    if (!tcpInformation(descriptor, information))
        return OutputQueueUnknown;
    if (information.State != TCPSTATE_ESTABLISHED && information.State != TCPSTATE_CLOSE_WAIT)
        return OutputQueueFailed;
    // Bytes sent and not yet acknowledged. The system does not tell what still waits in its send
    // buffer, but that waits only while bytes are in flight (the windows then fill) or while the
    // peer's window is shut: counted as one byte then, so a peer that stopped reading stalls.
    const bool shutOut = information.BytesInFlight == 0 && information.SndWnd == 0;
    return qint64(information.BytesInFlight) + (shutOut ? 1 : 0);
}

qint64 transferredBytes(qintptr descriptor)
{
    TCP_INFO_v0 information{};
    if (!tcpInformation(descriptor, information)) {
        const int error = ::WSAGetLastError();
        return error == WSAENOTSOCK || error == WSAENOTCONN ? TransferredNoConnection
                                                            : TransferredUnknown;
    }
    // What was sent and is still in flight has not reached the peer yet.
    return qint64(information.BytesIn) + qint64(information.BytesOut)
            - qint64(information.BytesInFlight);
}

bool answerAndClose(qintptr descriptor, const char *answer, qint64 size)
{
    const NativeSocket socket = nativeSocket(descriptor);
    const bool sent = ::send(socket, answer, static_cast<int>(size), 0) == size;
    ::shutdown(socket, shutdownSendingMode);
    ::closesocket(socket);
    return sent;
}

} // namespace HttpNativeSocket
} // namespace quenmar
