#include "socketfleettransport.h"
#include "devicenetwork.h"

bool SocketFleetTransport::send_datagram(
        const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    return DeviceNetwork::send(socket, datagram, address, port) == datagram.size();
}
