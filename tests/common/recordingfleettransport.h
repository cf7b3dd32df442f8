#ifndef RECORDINGFLEETTRANSPORT_H
#define RECORDINGFLEETTRANSPORT_H

#include "fleettransport.h"

#include <QVector>

#include <algorithm>

// Records what a fleet engine sends instead of sending it, on the networks
// of entries.
class RecordingFleetTransport : public FleetTransport
{
public:
    struct Datagram
    {
        QByteArray bytes;
        QHostAddress address;
        quint16 port;
    };

    QList<QNetworkAddressEntry> address_entries() const override { return entries; }

    bool send_datagram(
            const QByteArray &datagram, const QHostAddress &address, quint16 port) override
    {
        sent.append({ datagram, address, port });
        return true;
    }

    int count_to(const QHostAddress &address, const QByteArray &needle) const
    {
        return int(std::count_if(sent.cbegin(), sent.cend(), [&](const Datagram &datagram) {
            return datagram.address == address && datagram.bytes.contains(needle);
        }));
    }

    QList<QNetworkAddressEntry> entries;
    QVector<Datagram> sent;
};

#endif // RECORDINGFLEETTRANSPORT_H
