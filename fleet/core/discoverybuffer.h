#ifndef DISCOVERYBUFFER_H
#define DISCOVERYBUFFER_H

#include <QByteArray>
#include <QString>

class QUdpSocket;

// The receive side of a socket that discovery replies arrive on. Every device
// answers every probe of a search within milliseconds, so a large fleet's
// replies arrive as one burst; with the system's default receive buffer
// (about 200 KiB on Linux) most of a thousand devices' replies are dropped
// before the event loop reads the first. Sizing the buffer for the fleet,
// and counting what the system still drops, lives here for the command
// line's socket and the upgrade window's alike.
class DiscoveryBuffer
{
public:
    // Room for the replies of several thousand devices to every probe of a
    // search (a reply takes about 1 KiB of buffer with its bookkeeping).
    static constexpr int wanted_bytes = 8 * 1024 * 1024;

    struct Size
    {
        int asked = 0;
        // As the system reports it; Linux reports twice what it reserves
        // for data, the rest being its bookkeeping. 0 when it cannot be read.
        int granted = 0;
        // Far less than asked: a search may lose replies of a large fleet.
        bool far_less() const { return granted < asked / 2; }
        // The warning line for far_less(), with what may raise the limit.
        QString warning() const;
    };

    // Sets the receive buffer of a bound socket to bytes; where the system
    // caps it below that and allows more to a privileged process (Linux's
    // SO_RCVBUFFORCE), asks again that way. Returns what was granted.
    static Size enlarge(QUdpSocket &socket, int bytes = wanted_bytes);

    // Datagrams the system dropped for this socket since it was opened
    // (its buffer was full); -1 where the system does not tell (Windows
    // keeps no per-socket count).
    static qint64 dropped(const QUdpSocket &socket);

    // The drops column of the line of a Linux UDP socket table
    // (/proc/net/udp, udp6) whose inode is inode; -1 when there is none.
    static qint64 drops_in_table(const QByteArray &table, quint64 inode);

private:
    // Per system: the privileged request (false where there is none), and the count.
    static bool force_receive_buffer(QUdpSocket &socket, int bytes);
    static qint64 system_dropped(const QUdpSocket &socket);
};

#endif // DISCOVERYBUFFER_H
