#ifndef DEVICENETWORK_H
#define DEVICENETWORK_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>

#include <functional>

class QUdpSocket;

// The two places where the upgrade window reaches real networks: the local
// address entries that discovery broadcasts on, and the send of one datagram.
// Both can be replaced, so tests never broadcast on the machine's interfaces
// and can see what would have been sent. GUI thread only.
class DeviceNetwork
{
public:
    // Address entries of every interface, in the order the platform reports them.
    using EntryProvider = std::function<QList<QNetworkAddressEntry>()>;
    // Sends one datagram from socket; returns the bytes sent or -1.
    using Sender = std::function<qint64(QUdpSocket &socket, const QByteArray &datagram,
            const QHostAddress &address, quint16 port)>;

    // True where interfaces that are down are left out: on Windows a
    // disconnected adapter keeps its addresses in the list, and probes for it
    // would leave by another network or fail. Elsewhere every interface is
    // used, whatever its state.
#ifdef Q_OS_WIN
    static constexpr bool skips_down_interfaces = true;
#else
    static constexpr bool skips_down_interfaces = false;
#endif

    // The current provider's entries (by default those of all interfaces that
    // uses_interface() takes, in the platform's order).
    static QList<QNetworkAddressEntry> address_entries();
    // Whether the default entries include those of an interface with flags.
    static bool uses_interface(QNetworkInterface::InterfaceFlags flags);
    // Broadcast address of every entry that is IPv4, not 127.0.0.1 and has
    // a broadcast address, in entry order.
    static QList<QHostAddress> broadcast_addresses(const QList<QNetworkAddressEntry> &entries);
    // Sends through the current sender (by default socket.writeDatagram).
    static qint64 send(QUdpSocket &socket, const QByteArray &datagram, const QHostAddress &address,
            quint16 port);

    // An empty function restores the default. Process-wide because the
    // upgrade window's constructor is fixed; the fleet engine and dialog take
    // their network through their FleetTransport instead.
    static void set_entry_provider(EntryProvider provider);
    static void set_sender(Sender sender);
};

#endif // DEVICENETWORK_H
