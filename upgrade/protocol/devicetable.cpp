#include "devicetable.h"
#include "devicemessages.h"
#include "devicereply.h"
#include "upgradelogging.h"

QString DeviceTable::empty_text()
{
    return QStringLiteral("-");
}

DeviceTable::DeviceTable()
{
    clear();
}

void DeviceTable::clear()
{
    device_count = 0;
    for (int slot = 0; slot < slot_count; ++slot) {
        device_addresses[slot] = QHostAddress(QString());
        device_texts[slot] = empty_text();
        device_replies[slot] = DeviceReply();
    }
}

DeviceTable::Outcome DeviceTable::take_reply(const QByteArray &datagram, const QHostAddress &sender)
{
    DeviceReply reply;
    QByteArray text;
    const DeviceReply::Check check = DeviceReply::parse(datagram, &reply, &text);
    if (check == DeviceReply::Check::TooLong) {
        qCDebug(upgradeLog) << "read: dropped over-long datagram of" << datagram.size()
                            << "bytes from:" << sender.toString();
        return Outcome::TooLong;
    }
    if (check == DeviceReply::Check::NotJson)
        return Outcome::NotJson;
    qCDebug(upgradeLog) << "read:" << QString::fromUtf8(text) << "from:" << sender.toString();
    switch (check) {
    case DeviceReply::Check::NotObject:
        return Outcome::NotObject;
    case DeviceReply::Check::Probe:
        qCDebug(upgradeLog) << "jsonObject[type]==" << DeviceMessages::probe_type();
        return Outcome::Probe;
    case DeviceReply::Check::NoSerial:
        return Outcome::NoSerial;
    default:
        break;
    }
    if (device_count >= slot_count)
        return Outcome::Full;
    if (is_known(reply.serial_number, sender))
        return Outcome::Duplicate;

    QString row_text = reply.serial_number;
    for (const QString &value : { reply.version, reply.sound_version }) {
        if (!value.isEmpty())
            row_text += QLatin1Char(',') + value;
    }
    device_texts[device_count] = row_text;
    device_addresses[device_count] = sender;
    device_replies[device_count] = reply;
    ++device_count;
    qCDebug(upgradeLog) << "Set SN:" << reply.serial_number;
    return Outcome::Added;
}

// Every slot is examined, empty ones too: an empty slot's text "-" matches a
// serial number "-"; its null address matches no sender.
bool DeviceTable::is_known(const QString &serial_number, const QHostAddress &sender) const
{
    const QString sender_text = sender.toString();
    for (int slot = 0; slot < slot_count; ++slot) {
        if (serial_number == device_texts[slot]
                || (!device_addresses[slot].isNull()
                        && device_addresses[slot].toString() == sender_text))
            return true;
    }
    return false;
}

QHostAddress DeviceTable::address(int slot) const
{
    if (slot < 0 || slot >= slot_count)
        return QHostAddress();
    return device_addresses[slot];
}

QString DeviceTable::text(int slot) const
{
    if (slot < 0 || slot >= slot_count)
        return empty_text();
    return device_texts[slot];
}

DeviceReply DeviceTable::reply(int slot) const
{
    if (slot < 0 || slot >= slot_count)
        return DeviceReply();
    return device_replies[slot];
}
