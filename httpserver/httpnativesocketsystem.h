#ifndef QUENMAR_HTTPNATIVESOCKETSYSTEM_H
#define QUENMAR_HTTPNATIVESOCKETSYSTEM_H

// The system's socket headers and the names that differ between them, for the files of
// HttpNativeSocket only.

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quenmar {
namespace HttpNativeSocket {

#ifdef Q_OS_WIN
using NativeSocket = SOCKET;
using AddressLength = int;
constexpr int shutdownSendingMode = SD_SEND;
constexpr int shutdownBothMode = SD_BOTH;
#else
using NativeSocket = int;
using AddressLength = socklen_t;
constexpr int shutdownSendingMode = SHUT_WR;
constexpr int shutdownBothMode = SHUT_RDWR;
#endif

inline NativeSocket nativeSocket(qintptr descriptor)
{
    return static_cast<NativeSocket>(descriptor);
}

} // namespace HttpNativeSocket
} // namespace quenmar

#endif // QUENMAR_HTTPNATIVESOCKETSYSTEM_H
