#include "receiveddatagrams.h"
#include "datagramobserver.h"

#include <QVector>

namespace {

QVector<DatagramObserver *> &observers()
{
    static QVector<DatagramObserver *> list;
    return list;
}

} // namespace

void ReceivedDatagrams::add_observer(DatagramObserver *observer)
{
    if (!observers().contains(observer))
        observers().append(observer);
}

void ReceivedDatagrams::remove_observer(DatagramObserver *observer)
{
    observers().removeAll(observer);
}

void ReceivedDatagrams::publish(const QByteArray &datagram, const QHostAddress &sender)
{
    // An observer may remove itself or another while being told.
    const QVector<DatagramObserver *> current = observers();
    for (DatagramObserver *observer : current) {
        if (observers().contains(observer))
            observer->datagram_received(datagram, sender);
    }
}
