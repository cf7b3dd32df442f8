// The calls of HttpNativeSocket that differ by system, on Windows (Winsock).

#include "httpnativesocket.h"

#include "httpnativesocketsystem.h"

namespace quenmar {
namespace HttpNativeSocket {

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

qint64 unacknowledgedBytes(qintptr)
{
    return OutputQueueUnknown;
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
