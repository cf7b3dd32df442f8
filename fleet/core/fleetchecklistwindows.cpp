// The firewall lines of FleetChecklist on Windows: its own firewall, through netsh.

#include "fleetchecklist.h"

QString FleetChecklist::firewall_lines(quint16 udp_port, quint16 http_port)
{
    // "REM" keeps the first line harmless when the whole text is pasted into the prompt.
    return QStringLiteral("REM 在管理员命令提示符中运行:\n"
                          "netsh advfirewall firewall add rule name=\"Ondaspa UDP %1\" dir=in "
                          "action=allow protocol=UDP localport=%1\n"
                          "netsh advfirewall firewall add rule name=\"Ondaspa TCP %2\" dir=in "
                          "action=allow protocol=TCP localport=%2")
            .arg(udp_port)
            .arg(http_port);
}
