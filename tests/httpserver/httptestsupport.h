#ifndef HTTPTESTSUPPORT_H
#define HTTPTESTSUPPORT_H

// Helpers shared by the HTTP server tests: a connected loopback socket pair, and a request fed
// the way the connection handler feeds it.

#include "httprequest.h"
#include "messagecapture.h"

#include <QBuffer>
#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

// A server-side and a client-side socket connected over 127.0.0.1.
struct SocketPair
{
    bool open()
    {
        if (!server.listen(QHostAddress::LocalHost, 0))
            return false;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!client.waitForConnected(waitMilliseconds)
                || !server.waitForNewConnection(waitMilliseconds))
            return false;
        serverSide = server.nextPendingConnection();
        return serverSide != nullptr;
    }

    // Everything the client receives until the server side has closed the connection.
    QByteArray receiveUntilClosed()
    {
        serverSide->disconnectFromHost();
        QByteArray received;
        while (client.state() == QAbstractSocket::ConnectedState
                && client.waitForReadyRead(waitMilliseconds))
            received += client.readAll();
        received += client.readAll();
        return received;
    }

    // Longest wait for any single socket event, in milliseconds.
    static constexpr int waitMilliseconds = 5000;

    QTcpServer server;
    QTcpSocket client;
    QTcpSocket *serverSide = nullptr;
};

// Feeds the pieces one after the other, each arriving on its own, calling receive() while bytes
// are available and the request is not finished, as the connection handler does. Returns the
// number of bytes left unread when the request finished (or all of them were offered).
inline int feedPieces(quenmar::HttpRequest &request, const QList<QByteArray> &pieces)
{
    const auto finished = [&request]() {
        return request.parseState() == quenmar::HttpRequest::Complete
                || request.parseState() == quenmar::HttpRequest::Aborted;
    };
    QByteArray pending;
    int offered = 0;
    for (const QByteArray &piece : pieces) {
        pending += piece;
        ++offered;
        QBuffer device(&pending);
        device.open(QIODevice::ReadOnly);
        while (device.bytesAvailable() > 0 && !finished())
            request.receive(&device, QHostAddress(QHostAddress::LocalHost));
        pending.remove(0, int(device.pos()));
        if (finished())
            break;
    }
    for (int i = offered; i < pieces.size(); ++i)
        pending += pieces.at(i);
    return pending.size();
}

// data in pieces of chunkSize bytes; 0 means all at once.
inline QList<QByteArray> inChunks(const QByteArray &data, int chunkSize = 0)
{
    if (chunkSize <= 0)
        return { data };
    QList<QByteArray> pieces;
    for (int offset = 0; offset < data.size(); offset += chunkSize)
        pieces.append(data.mid(offset, chunkSize));
    return pieces;
}

// data in two pieces, split at offset.
inline QList<QByteArray> splitAt(const QByteArray &data, int offset)
{
    return { data.left(offset), data.mid(offset) };
}

#endif // HTTPTESTSUPPORT_H
