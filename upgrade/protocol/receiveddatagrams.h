#ifndef RECEIVEDDATAGRAMS_H
#define RECEIVEDDATAGRAMS_H

#include <QByteArray>
#include <QHostAddress>

class DatagramObserver;

// The observers of the upgrade window's UDP socket, process-wide. The port
// has one socket per process, since the kernel would hand each reply to one
// socket of several at random: whoever else needs the replies (the fleet
// dialog) registers here, and the window publishes every datagram it reads.
// GUI thread only; observers are not owned.
class ReceivedDatagrams
{
public:
    // Adding one observer twice has no effect.
    static void add_observer(DatagramObserver *observer);
    // Safe from inside a call: the observer is not called again afterwards.
    static void remove_observer(DatagramObserver *observer);

    static void publish(const QByteArray &datagram, const QHostAddress &sender);
};

#endif // RECEIVEDDATAGRAMS_H
