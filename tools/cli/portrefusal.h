#ifndef PORTREFUSAL_H
#define PORTREFUSAL_H

#include <QAbstractSocket>
#include <QString>

// What to do about a TCP port the server could not listen on, for `ondaspa-cli upgrade`. A
// refused port means something else on each system: on Unix, a port below 1024 without root or
// the capability; on Windows, a port another program holds for itself or one the system keeps
// for its own use. Plain functions; any thread.
class PortRefusal
{
public:
    // The advice for error, the listener's error; windowPort is the port an Ondaspa window
    // holds.
    static QString advice(QAbstractSocket::SocketError error, quint16 windowPort);

private:
    // Per system: the advice for QAbstractSocket::SocketAccessError, ending in otherPort.
    static QString accessRefused(const QString &otherPort);
};

#endif // PORTREFUSAL_H
