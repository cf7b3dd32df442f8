#include "socketfleettransport.h"
#include "devicemessages.h"
#include "devicenetwork.h"
#include "discoverybuffer.h"
#include "upgradelogging.h"

namespace {

constexpr int drops_check_interval_ms = 1000;

} // namespace

SocketFleetTransport::SocketFleetTransport(QUdpSocket &socket) : socket(socket)
{
    const DiscoveryBuffer::Size size = DiscoveryBuffer::enlarge(socket);
    if (size.far_less())
        qCWarning(upgradeLog).noquote() << size.warning();
    drops_logged = qMax<qint64>(0, DiscoveryBuffer::dropped(socket));
}

QList<QNetworkAddressEntry> SocketFleetTransport::address_entries() const
{
    return DeviceNetwork::address_entries();
}

bool SocketFleetTransport::send_datagram(
        const QByteArray &datagram, const QHostAddress &address, quint16 port)
{
    if (datagram == DeviceMessages::probe())
        log_new_drops();
    return DeviceNetwork::send(socket, datagram, address, port) == datagram.size();
}

void SocketFleetTransport::log_new_drops()
{
    if (since_drops_checked.isValid() && since_drops_checked.elapsed() < drops_check_interval_ms)
        return;
    since_drops_checked.start();
    const qint64 drops = DiscoveryBuffer::dropped(socket);
    if (drops <= drops_logged)
        return;
    qCWarning(upgradeLog).noquote()
            << QStringLiteral("discovery: the system dropped %1 replies (the receive buffer "
                              "was full); some devices may be missing")
                       .arg(drops - drops_logged);
    drops_logged = drops;
}
