#ifndef SOCKETFLEETTRANSPORT_H
#define SOCKETFLEETTRANSPORT_H

#include "fleettransport.h"

class QUdpSocket;

// The fleet engine's datagrams sent from a socket someone else owns (the
// upgrade window's, on port 15724), so devices answer to the port the window
// reads. Reaches the network as the window does, through DeviceNetwork,
// whose entries and sender tests of the window replace. Not owning; the
// socket must outlive it. Used on the socket's thread.
class SocketFleetTransport : public FleetTransport
{
public:
    explicit SocketFleetTransport(QUdpSocket &socket) : socket(socket) { }

    QList<QNetworkAddressEntry> address_entries() const override;

    bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) override;

private:
    QUdpSocket &socket;
};

#endif // SOCKETFLEETTRANSPORT_H
