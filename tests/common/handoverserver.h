#ifndef HANDOVERSERVER_H
#define HANDOVERSERVER_H

#include "httpconnectionhandler.h"

#include <QTcpServer>

// Hands every accepted connection to one connection handler, the way the listener does, so a
// test can give the handler settings of its own (a short write-stall time, say).
class HandOverServer : public QTcpServer
{
public:
    quenmar::HttpConnectionHandler *handler = nullptr;

protected:
    void incomingConnection(qintptr socketDescriptor) override
    {
        // The queued call names the argument's type as the slot declares it.
        using quenmar::tSocketDescriptor;
        handler->setBusy();
        QMetaObject::invokeMethod(handler, "handleConnection", Qt::QueuedConnection,
                Q_ARG(tSocketDescriptor, socketDescriptor));
    }
};

#endif // HANDOVERSERVER_H
