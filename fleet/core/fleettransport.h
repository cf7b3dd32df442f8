#ifndef FLEETTRANSPORT_H
#define FLEETTRANSPORT_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>

// How the fleet engine reaches devices: the local networks it can search,
// and the datagrams it sends; its owner feeds the datagrams that arrive back
// into the engine (FleetEngine::take_datagram). The owner keeps the socket,
// so one process can share one UDP socket between the upgrade window and the
// engine. Called on the engine's thread.
class FleetTransport
{
public:
    virtual ~FleetTransport() = default;

    // This computer's address entries, in the order the platform reports
    // them; a search broadcasts on those with a broadcast address.
    virtual QList<QNetworkAddressEntry> address_entries() const = 0;

    // Sends datagram to address:port; false when it could not be sent.
    virtual bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) = 0;
};

#endif // FLEETTRANSPORT_H
