#ifndef QUENMAR_HTTPPEERCONNECTIONS_H
#define QUENMAR_HTTPPEERCONNECTIONS_H

// Crosses threads: the listener admits on its thread, handlers claim and release on theirs; every
// member is safe from any thread.

#include <QHash>
#include <QHostAddress>
#include <QMutex>

namespace quenmar {

// Counts the open connections of each peer address from accept until the connection ends, so that
// the listener can refuse a peer that already holds its share of the handlers. The listener admits
// a connection under its descriptor; the handler that adopts the descriptor claims it and releases
// the address when the connection ends.
class HttpPeerConnections
{
public:
    // Counts a connection from peer, accepted on descriptor, unless peer already has limit or more
    // open (limit 0 or below: no limit). A null peer is never counted and always admitted.
    // Returns false, counting nothing, when refused.
    bool admit(qintptr descriptor, const QHostAddress &peer, int limit);
    // Takes over the count of an admitted descriptor before it is adopted or closed. Returns the
    // address to hand to release() when the connection ends; null for a descriptor not counted.
    QHostAddress claim(qintptr descriptor);
    // Ends one counted connection of peer; a null address is ignored.
    void release(const QHostAddress &peer);
    // Forgets everything, for a listener that closed its pool with every connection.
    void clear();

private:
    QMutex mutex;
    QHash<QHostAddress, int> openConnections;
    // Admitted descriptors not yet claimed by their handler.
    QHash<qintptr, QHostAddress> unclaimed;
};

} // namespace quenmar

#endif // QUENMAR_HTTPPEERCONNECTIONS_H
