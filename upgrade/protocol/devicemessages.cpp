#include "devicemessages.h"
#include "indentedjson.h"

#include <QJsonObject>

QString DeviceMessages::probe_type()
{
    return QStringLiteral("hellotavirex");
}

QString DeviceMessages::firmware_type()
{
    return QStringLiteral("update");
}

QString DeviceMessages::file_system_type()
{
    return QStringLiteral("fs");
}

QString DeviceMessages::file_for(const QString &type)
{
    return type == file_system_type() ? QStringLiteral("minifs_rom.img")
                                      : QStringLiteral("firmware.bin");
}

QByteArray DeviceMessages::probe()
{
    QJsonObject object;
    object.insert(QStringLiteral("type"), probe_type());
    return IndentedJson::write(object);
}

QByteArray DeviceMessages::upgrade_command(
        quint16 http_port, const QString &serial_number, const QString &type)
{
    QJsonObject object;
    object.insert(QStringLiteral("type"), type);
    object.insert(QStringLiteral("sn"), serial_number);
    object.insert(QStringLiteral("port"), int(http_port));
    return IndentedJson::write(object);
}

QString DeviceMessages::serial_number(const QString &row_text)
{
    return row_text.section(QLatin1Char(','), 0, 0);
}
