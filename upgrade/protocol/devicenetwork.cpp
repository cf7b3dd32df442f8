#include "devicenetwork.h"

#include <QNetworkInterface>
#include <QUdpSocket>

namespace {

DeviceNetwork::EntryProvider &entry_provider()
{
    static DeviceNetwork::EntryProvider provider;
    return provider;
}

DeviceNetwork::Sender &sender()
{
    static DeviceNetwork::Sender current;
    return current;
}

QList<QNetworkAddressEntry> system_address_entries()
{
    QList<QNetworkAddressEntry> entries;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &network_interface : interfaces) {
        if (DeviceNetwork::uses_interface(network_interface.flags()))
            entries += network_interface.addressEntries();
    }
    return entries;
}

} // namespace

QList<QNetworkAddressEntry> DeviceNetwork::address_entries()
{
    return entry_provider() ? entry_provider()() : system_address_entries();
}

bool DeviceNetwork::uses_interface(QNetworkInterface::InterfaceFlags flags)
{
    return !skips_down_interfaces || flags.testFlag(QNetworkInterface::IsUp);
}

QList<QHostAddress> DeviceNetwork::broadcast_addresses(const QList<QNetworkAddressEntry> &entries)
{
    QList<QHostAddress> addresses;
    for (const QNetworkAddressEntry &entry : entries) {
        if (entry.broadcast().isNull())
            continue;
        if (entry.ip() == QHostAddress(QHostAddress::LocalHost))
            continue;
        if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        addresses.append(entry.broadcast());
    }
    return addresses;
}

qint64 DeviceNetwork::send(
        QUdpSocket &socket, const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    if (sender())
        return sender()(socket, datagram, address, port);
    return socket.writeDatagram(datagram, address, port);
}

void DeviceNetwork::set_entry_provider(EntryProvider provider)
{
    entry_provider() = std::move(provider);
}

void DeviceNetwork::set_sender(Sender sender_function)
{
    sender() = std::move(sender_function);
}
