#include "deviceport.h"

#include <QNetworkDatagram>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Largest datagram read; probes and commands are far shorter.
constexpr int max_datagram_size = 65536;

} // namespace

QUdpSocket *bind_device_port(
        const QHostAddress &address, quint16 port, QObject *parent, QString *error)
{
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (descriptor < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
            || ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0
            || ::bind(descriptor, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        const int reason = errno;
        *error = QStringLiteral("cannot bind %1:%2: %3")
                         .arg(address.toString())
                         .arg(port)
                         .arg(QString::fromLocal8Bit(std::strerror(reason)));
        if (reason == EADDRNOTAVAIL)
            *error += QStringLiteral(" (the address must exist on an interface)");
        else if (reason == EACCES)
            *error += QStringLiteral(" (ports below 1024 need root or CAP_NET_BIND_SERVICE)");
        ::close(descriptor);
        return nullptr;
    }
    auto *socket = new QUdpSocket(parent);
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::BoundState)) {
        *error = socket->errorString();
        ::close(descriptor);
        delete socket;
        return nullptr;
    }
    return socket;
}

void on_datagrams(QUdpSocket *socket, QObject *context,
        const std::function<void(const QNetworkDatagram &)> &take)
{
    QObject::connect(socket, &QUdpSocket::readyRead, context, [socket, take] {
        while (socket->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket->receiveDatagram(max_datagram_size);
            if (!datagram.isValid())
                return;
            take(datagram);
        }
    });
}
