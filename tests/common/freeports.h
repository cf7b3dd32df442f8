#ifndef FREEPORTS_H
#define FREEPORTS_H

#include <QHostAddress>
#include <QTcpServer>
#include <QUdpSocket>

// Ports the system hands out on loopback just now, for the programs a test starts. Another
// process may take one meanwhile: the program then fails to start, and the test with it.

inline quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

inline quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

#endif // FREEPORTS_H
