#include "heardreplies.h"
#include "devicereply.h"
#include "downloadobserver.h"

bool HeardReplies::take(
        const QByteArray &datagram, const QHostAddress &sender, const QDateTime &when)
{
    DeviceReply reply;
    if (DeviceReply::parse(datagram, &reply) != DeviceReply::Check::Valid)
        return false;
    const QHostAddress plain = DownloadReport::plain_address(sender);
    const auto known = position.constFind(plain);
    if (known != position.cend()) {
        kept[known.value()].datagram = datagram;
        return true;
    }
    if (kept.size() >= max_senders)
        return false;
    position.insert(plain, kept.size());
    kept.append({ plain, datagram, when });
    return true;
}

void HeardReplies::clear()
{
    kept.clear();
    position.clear();
}
