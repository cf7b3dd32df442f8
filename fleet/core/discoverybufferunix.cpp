#include "discoverybuffer.h"

#include <QFile>
#include <QUdpSocket>

#include <sys/socket.h>
#include <sys/stat.h>

bool DiscoveryBuffer::force_receive_buffer(QUdpSocket &socket, int bytes)
{
#ifdef SO_RCVBUFFORCE
    // Allowed to a process with CAP_NET_ADMIN only; past net.core.rmem_max.
    return setsockopt(
                   int(socket.socketDescriptor()), SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes)
            == 0;
#else
    Q_UNUSED(socket)
    Q_UNUSED(bytes)
    return false;
#endif
}

qint64 DiscoveryBuffer::system_dropped(const QUdpSocket &socket)
{
    struct stat status
    {
    };
    if (socket.socketDescriptor() < 0 || fstat(int(socket.socketDescriptor()), &status) != 0)
        return -1;
    // Linux lists each socket of this network namespace with its drops; other systems have no
    // such table, and the files do not open.
    for (const char *path : { "/proc/net/udp", "/proc/net/udp6" }) {
        QFile table(QString::fromLatin1(path));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        const qint64 drops = drops_in_table(table.readAll(), quint64(status.st_ino));
        if (drops >= 0)
            return drops;
    }
    return -1;
}
