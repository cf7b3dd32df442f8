#ifndef PRIVATENETWORK_H
#define PRIVATENETWORK_H

#include <QNetworkInterface>
#include <QString>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

// Moves the whole test process into a network namespace of its own, with only
// a loopback interface, so tests may bind fixed ports (81) and send
// broadcasts without touching the machine's networks. Call it first thing in
// main(), while the process has one thread: a namespace change reaches only
// the calling thread and the threads started after it. Returns an empty
// string on success, otherwise why the namespace could not be made (tests
// then skip; they never fall back to the real interfaces).
inline QString enter_private_network()
{
#ifdef Q_OS_LINUX
    if (::unshare(CLONE_NEWNET) != 0)
        return QStringLiteral("no private network namespace (unshare: %1); needs CAP_SYS_ADMIN")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
    const int control = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (control < 0)
        return QStringLiteral("no socket in the private network namespace");
    ifreq request = {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    const bool up = ::ioctl(control, SIOCGIFFLAGS, &request) == 0
            && (request.ifr_flags |= IFF_UP, ::ioctl(control, SIOCSIFFLAGS, &request) == 0);
    ::close(control);
    return up ? QString() : QStringLiteral("cannot bring up the loopback interface");
#else
    return QStringLiteral("private network namespaces exist only on Linux");
#endif
}

// A last guard for checks that broadcast, run by the namespace scripts: every
// IPv4 address must be loopback or in the namespaces' 198.18.0.0/15, and one
// must be there. Returns an empty string when that holds, otherwise why the
// check must not go on.
inline QString broadcast_guard_error()
{
    const auto test_network = QHostAddress::parseSubnet(QStringLiteral("198.18.0.0/15"));
    bool linked = false;
    for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
        if (address.protocol() != QAbstractSocket::IPv4Protocol || address.isLoopback())
            continue;
        if (!address.isInSubnet(test_network))
            return QStringLiteral("refusing to broadcast: %1 is outside the private namespace")
                    .arg(address.toString());
        linked = true;
    }
    return linked ? QString()
                  : QStringLiteral("no 198.18.0.0/15 address: the namespace links are missing");
}

#endif // PRIVATENETWORK_H
