#ifndef DEVICEPORT_H
#define DEVICEPORT_H

#include <QHostAddress>

#include <functional>

class QNetworkDatagram;
class QObject;
class QString;
class QUdpSocket;

// The UDP sockets of the device port. Event-loop driven, on the thread that
// creates them.

// Binds a UDP socket to address:port with SO_REUSEADDR and SO_REUSEPORT, so
// that several simulated devices and simulator processes share the port.
// The socket belongs to parent. Returns null with a reason in error.
QUdpSocket *bind_device_port(
        const QHostAddress &address, quint16 port, QObject *parent, QString *error);

// Hands every datagram that arrives on socket to take, in arrival order.
void on_datagrams(QUdpSocket *socket, QObject *context,
        const std::function<void(const QNetworkDatagram &)> &take);

#endif // DEVICEPORT_H
