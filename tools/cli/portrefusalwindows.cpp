// PortRefusal on Windows: any user may listen on any port, so a refusal means that the port is
// taken for good.

#include "portrefusal.h"

QString PortRefusal::accessRefused(const QString &otherPort)
{
    return QStringLiteral("another program holds it for itself, or Windows reserves it for its "
                          "own use (\"netsh interface ipv4 show excludedportrange protocol=tcp\" "
                          "lists the reserved ranges); ")
            + otherPort;
}
