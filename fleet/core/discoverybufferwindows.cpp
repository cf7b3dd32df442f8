#include "discoverybuffer.h"

// Windows grants the size asked (no system-wide cap to pass) and keeps no
// count of the datagrams it drops for a socket.
bool DiscoveryBuffer::force_receive_buffer(QUdpSocket &, int)
{
    return false;
}

qint64 DiscoveryBuffer::system_dropped(const QUdpSocket &)
{
    return -1;
}
