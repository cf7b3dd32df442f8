#include "httppeerconnections.h"

#include <QMutexLocker>

namespace quenmar {

bool HttpPeerConnections::admit(qintptr descriptor, const QHostAddress &peer, int limit)
{
    if (peer.isNull())
        return true;
    QMutexLocker lock(&mutex);
    const int open = openConnections.value(peer);
    if (limit > 0 && open >= limit)
        return false;
    openConnections.insert(peer, open + 1);
    unclaimed.insert(descriptor, peer);
    return true;
}

QHostAddress HttpPeerConnections::claim(qintptr descriptor)
{
    QMutexLocker lock(&mutex);
    return unclaimed.take(descriptor);
}

void HttpPeerConnections::release(const QHostAddress &peer)
{
    if (peer.isNull())
        return;
    QMutexLocker lock(&mutex);
    const auto found = openConnections.find(peer);
    if (found == openConnections.end())
        return;
    if (--found.value() <= 0)
        openConnections.erase(found);
}

void HttpPeerConnections::clear()
{
    QMutexLocker lock(&mutex);
    openConnections.clear();
    unclaimed.clear();
}

} // namespace quenmar
