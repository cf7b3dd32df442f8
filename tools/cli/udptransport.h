#ifndef UDPTRANSPORT_H
#define UDPTRANSPORT_H

#include "discoverybuffer.h"
#include "fleettransport.h"

#include <QObject>
#include <QUdpSocket>

#include <functional>

// The command line's UDP socket for the fleet engine, bound to a port the
// system picks. Devices answer a probe to the port it came from, so replies
// reach this socket only, never the upgrade window's port 15724 in another
// process. Lives on the thread that created it.
class UdpTransport : public QObject, public FleetTransport
{
    Q_OBJECT

public:
    // Called for every datagram that arrives.
    using Receiver = std::function<void(const QByteArray &datagram, const QHostAddress &sender)>;

    explicit UdpTransport(QObject *parent = nullptr);

    // Binds to any IPv4 address and a free port, with a receive buffer for a
    // large fleet's replies; false with the reason in error.
    bool open(QString *error);
    // What the system granted of the receive buffer asked for at open().
    DiscoveryBuffer::Size receiveBuffer() const { return bufferSize; }
    // Datagrams the system dropped since open() (-1: it does not tell).
    qint64 dropped() const { return DiscoveryBuffer::dropped(socket); }
    quint16 localPort() const { return socket.localPort(); }
    void setReceiver(Receiver receiver);

    QList<QNetworkAddressEntry> address_entries() const override;

    bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) override;

private:
    void readPending();

    QUdpSocket socket;
    DiscoveryBuffer::Size bufferSize;
    Receiver receiver;
};

#endif // UDPTRANSPORT_H
