#ifndef UDPTRANSPORT_H
#define UDPTRANSPORT_H

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

    // Binds to any IPv4 address and a free port; false with the reason in error.
    bool open(QString *error);
    quint16 localPort() const { return socket.localPort(); }
    void setReceiver(Receiver receiver);

    QList<QNetworkAddressEntry> address_entries() const override;

    bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) override;

private:
    void readPending();

    QUdpSocket socket;
    Receiver receiver;
};

#endif // UDPTRANSPORT_H
