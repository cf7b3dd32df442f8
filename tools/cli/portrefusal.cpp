#include "portrefusal.h"

QString PortRefusal::advice(QAbstractSocket::SocketError error, quint16 windowPort)
{
    QString otherPort = QStringLiteral("choose another port with --port");
    if (error == QAbstractSocket::SocketAccessError)
        return accessRefused(otherPort);
    if (error == QAbstractSocket::AddressInUseError)
        return QStringLiteral("another program holds it (a running Ondaspa window holds port %1); ")
                       .arg(windowPort)
                + otherPort;
    return otherPort;
}
