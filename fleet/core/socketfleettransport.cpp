#include "socketfleettransport.h"
#include "devicenetwork.h"

QList<QNetworkAddressEntry> SocketFleetTransport::address_entries() const
{
    return DeviceNetwork::address_entries();
}

bool SocketFleetTransport::send_datagram(
        const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    return DeviceNetwork::send(socket, datagram, address, port) == datagram.size();
}
