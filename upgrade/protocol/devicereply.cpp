#include "devicereply.h"
#include "devicemessages.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

DeviceReply::Check DeviceReply::parse(
        const QByteArray &datagram, DeviceReply *reply, QByteArray *text)
{
    *reply = DeviceReply();
    if (datagram.size() > max_size)
        return Check::TooLong;
    const int zero = datagram.indexOf('\0');
    const QByteArray json = zero < 0 ? datagram : datagram.left(zero);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (document.isNull() || error.error != QJsonParseError::NoError)
        return Check::NotJson;
    if (text)
        *text = json;
    if (!document.isObject())
        return Check::NotObject;

    const QJsonObject object = document.object();
    if (object.value(QStringLiteral("type")).toString() == DeviceMessages::probe_type())
        return Check::Probe;
    const QString serial_number = object.value(QStringLiteral("sn")).toString();
    if (serial_number.isEmpty())
        return Check::NoSerial;
    reply->serial_number = serial_number;
    reply->version = object.value(QStringLiteral("ver")).toString();
    reply->sound_version = object.value(QStringLiteral("snd")).toString();
    return Check::Valid;
}
