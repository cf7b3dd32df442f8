#include "discoverybuffer.h"

#include <QList>
#include <QUdpSocket>

namespace {

int granted_bytes(QUdpSocket &socket)
{
    return qMax(0, socket.socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt());
}

// Fields of a socket table line: "sl local remote st tx:rx tr:when retrnsmt uid timeout inode
// ref pointer drops".
constexpr int inode_field = 9;
constexpr int drops_field = 12;

} // namespace

QString DiscoveryBuffer::Size::warning() const
{
    return QStringLiteral("discovery: the system granted a receive buffer of %1 KiB of the "
                          "%2 KiB asked; a search of a large fleet may lose replies (on Linux "
                          "raise net.core.rmem_max, or run as root)")
            .arg(granted / 1024)
            .arg(asked / 1024);
}

DiscoveryBuffer::Size DiscoveryBuffer::enlarge(QUdpSocket &socket, int bytes)
{
    Size size;
    size.asked = bytes;
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, bytes);
    size.granted = granted_bytes(socket);
    if (size.far_less() && force_receive_buffer(socket, bytes))
        size.granted = granted_bytes(socket);
    return size;
}

qint64 DiscoveryBuffer::dropped(const QUdpSocket &socket)
{
    return system_dropped(socket);
}

qint64 DiscoveryBuffer::drops_in_table(const QByteArray &table, quint64 inode)
{
    const QList<QByteArray> lines = table.split('\n');
    // The first line names the columns.
    for (int index = 1; index < lines.size(); ++index) {
        const QList<QByteArray> fields = lines.at(index).simplified().split(' ');
        if (fields.size() <= drops_field)
            continue;
        bool inode_ok = false;
        if (fields.at(inode_field).toULongLong(&inode_ok) != inode || !inode_ok)
            continue;
        bool drops_ok = false;
        const qint64 drops = fields.at(drops_field).toLongLong(&drops_ok);
        return drops_ok ? drops : -1;
    }
    return -1;
}
