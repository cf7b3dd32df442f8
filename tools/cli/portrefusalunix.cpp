// PortRefusal on Unix: a port below 1024 needs root or the capability.

#include "portrefusal.h"

#include <QCoreApplication>

QString PortRefusal::accessRefused(const QString &otherPort)
{
    return QStringLiteral("ports below 1024 need root or a capability: grant it once with "
                          "\"sudo setcap cap_net_bind_service=+ep %1\", or %2")
            .arg(QCoreApplication::applicationFilePath(), otherPort);
}
