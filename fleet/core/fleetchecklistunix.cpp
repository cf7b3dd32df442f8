// The firewall lines of FleetChecklist on Linux: ufw and firewalld.

#include "fleetchecklist.h"

QString FleetChecklist::firewall_lines(quint16 udp_port, quint16 http_port)
{
    return QStringLiteral("ufw allow %1/udp\n"
                          "ufw allow %2/tcp\n"
                          "firewall-cmd --permanent --add-port=%1/udp\n"
                          "firewall-cmd --permanent --add-port=%2/tcp\n"
                          "firewall-cmd --reload")
            .arg(udp_port)
            .arg(http_port);
}
