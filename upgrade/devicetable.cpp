#include "devicetable.h"
#include "devicemessages.h"

#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

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
    }
}

DeviceTable::Outcome DeviceTable::take_reply(const QByteArray &datagram, const QHostAddress &sender)
{
    if (datagram.size() > max_reply_size) {
        qDebug() << "read: dropped over-long datagram of" << datagram.size()
                 << "bytes from:" << sender.toString();
        return Outcome::TooLong;
    }
    const int zero = datagram.indexOf('\0');
    const QByteArray text = zero < 0 ? datagram : datagram.left(zero);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (document.isNull() || error.error != QJsonParseError::NoError)
        return Outcome::NotJson;
    qDebug() << "read:" << QString::fromUtf8(text) << "from:" << sender.toString();
    if (!document.isObject())
        return Outcome::NotObject;

    const QJsonObject reply = document.object();
    const QString type = reply.value(QStringLiteral("type")).toString();
    if (type == DeviceMessages::probe_type()) {
        qDebug() << "jsonObject[type]==" << type;
        return Outcome::Probe;
    }
    const QString serial_number = reply.value(QStringLiteral("sn")).toString();
    if (serial_number.isEmpty())
        return Outcome::NoSerial;
    if (device_count >= slot_count)
        return Outcome::Full;
    if (is_known(serial_number, sender))
        return Outcome::Duplicate;

    QString row_text = serial_number;
    for (const QString &key : { QStringLiteral("ver"), QStringLiteral("snd") }) {
        const QString value = reply.value(key).toString();
        if (!value.isEmpty())
            row_text += QLatin1Char(',') + value;
    }
    device_texts[device_count] = row_text;
    device_addresses[device_count] = sender;
    ++device_count;
    qDebug() << "Set SN:" << serial_number;
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
