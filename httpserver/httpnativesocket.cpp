#include "httpnativesocket.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
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

#endif

} // namespace HttpNativeSocket
} // namespace quenmar
