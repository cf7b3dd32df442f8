#ifndef FLEETCHECKLIST_H
#define FLEETCHECKLIST_H

#include "fleetpreflight.h"

#include <QList>
#include <QNetworkAddressEntry>
#include <QString>
#include <QStringList>

// The texts of the fleet dialog's pre-flight panel: whether the file a
// command type makes the devices ask for can be served, this
// computer's IPv4 addresses, and the firewall lines that let devices reach
// it. Pure functions.
class FleetChecklist
{
public:
    // Size, SHA-256 and modification time of a file that passed; otherwise
    // why it cannot be served. Several lines.
    static QString file_text(const FleetPreflight &preflight);
    // Why no upgrade of this file may start, in one line; empty when it may.
    static QString refusal(const FleetPreflight &preflight);
    // The IPv4 addresses of entries with prefix length, e.g.
    // "192.168.1.5/24", loopback left out and each once.
    static QStringList local_addresses(const QList<QNetworkAddressEntry> &entries);
    // Commands that open the two ports: for ufw and for firewalld; on
    // Windows for its own firewall (netsh, as an administrator).
    static QString firewall_lines(quint16 udp_port, quint16 http_port);
};

#endif // FLEETCHECKLIST_H
