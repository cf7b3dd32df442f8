#ifndef DATAGRAMOBSERVER_H
#define DATAGRAMOBSERVER_H

#include <QByteArray>
#include <QHostAddress>

// Told about every datagram that arrives on the upgrade window's UDP socket
// (port 15724). GUI thread only.
class DatagramObserver
{
public:
    virtual ~DatagramObserver() = default;

    // datagram as read, at most DeviceReply::max_size + 1 bytes.
    virtual void datagram_received(const QByteArray &datagram, const QHostAddress &sender) = 0;
};

#endif // DATAGRAMOBSERVER_H
