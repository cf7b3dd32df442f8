#ifndef SOCKETFLEETTRANSPORT_H
#define SOCKETFLEETTRANSPORT_H

#include "fleettransport.h"

#include <QElapsedTimer>

class QUdpSocket;

// The fleet engine's datagrams sent from a socket someone else owns (the
// upgrade window's, on port 15724), so devices answer to the port the window
// reads. Reaches the network as the window does, through DeviceNetwork,
// whose entries and sender tests of the window replace. Not owning; the
// socket must outlive it. Used on the socket's thread.
//
// Sizes the socket's receive buffer for a large fleet's replies (a setting of
// the socket; the window reads it as before), and logs the replies the system
// dropped all the same, checked when a probe leaves, at most once a second.
class SocketFleetTransport : public FleetTransport
{
public:
    explicit SocketFleetTransport(QUdpSocket &socket);

    QList<QNetworkAddressEntry> address_entries() const override;

    bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) override;

private:
    void log_new_drops();

    QUdpSocket &socket;
    qint64 drops_logged = 0;
    QElapsedTimer since_drops_checked;
};

#endif // SOCKETFLEETTRANSPORT_H
