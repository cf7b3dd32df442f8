#include "udptransport.h"

#include "devicenetwork.h"

#include <QNetworkDatagram>

namespace {

// Largest datagram read whole; replies are far shorter, and longer ones are
// refused by the engine.
constexpr int maxDatagramSize = 65536;

} // namespace

UdpTransport::UdpTransport(QObject *parent) : QObject(parent)
{
    connect(&socket, &QUdpSocket::readyRead, this, &UdpTransport::readPending);
}

bool UdpTransport::open(QString *error)
{
    if (socket.bind(QHostAddress(QHostAddress::AnyIPv4), 0)) {
        bufferSize = DiscoveryBuffer::enlarge(socket);
        return true;
    }
    *error = socket.errorString();
    return false;
}

void UdpTransport::setReceiver(Receiver function)
{
    receiver = std::move(function);
}

QList<QNetworkAddressEntry> UdpTransport::address_entries() const
{
    return DeviceNetwork::address_entries();
}

bool UdpTransport::send_datagram(
        const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    return DeviceNetwork::send(socket, datagram, address, port) == datagram.size();
}

void UdpTransport::readPending()
{
    while (socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket.receiveDatagram(maxDatagramSize);
        if (!datagram.isValid())
            return;
        if (receiver)
            receiver(datagram.data(), datagram.senderAddress());
    }
}
