#ifndef HTTPTESTCLIENT_H
#define HTTPTESTCLIENT_H

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QTcpSocket>
#include <QThread>
#include <QVector>

#include <atomic>

// A reply as it came over the wire; headers in wire order.
struct HttpTestReply
{
    int status = 0;
    QByteArray description;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    QList<QByteArray> header_names() const
    {
        QList<QByteArray> names;
        for (const auto &header : headers)
            names << header.first;
        return names;
    }
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &header : headers) {
            if (header.first == name)
                return header.second;
        }
        return QByteArray();
    }
};

// Blocking HTTP clients for tests of the embedded server. The exchanges run on
// threads of their own while the calling thread keeps processing events,
// because the listener accepts connections and the windows receive progress
// codes on that (GUI) thread.
class HttpTestClient
{
public:
    // Longest wait for any one step of an exchange, in milliseconds.
    static constexpr int step_timeout = 10000;

    // A request that asks the server to close the connection after its answer.
    static QByteArray request(const QByteArray &method, const QByteArray &path)
    {
        return method + ' ' + path + " HTTP/1.1\r\nHost: device\r\nConnection: close\r\n\r\n";
    }

    // Sends each request on a connection of its own, all at once, and returns
    // the bytes received on each until the server closed it. With abort_after
    // at 0 or more, a client aborts its connection once that many bytes came.
    static QVector<QByteArray> exchange_all(quint16 port, const QVector<QByteArray> &requests,
            qint64 abort_after = -1, const QHostAddress &address = QHostAddress::LocalHost)
    {
        QVector<QByteArray> received(requests.size());
        std::atomic<int> running(requests.size());
        QVector<QThread *> threads;
        for (int i = 0; i < requests.size(); ++i) {
            QThread *thread = QThread::create([&, i] {
                received[i] = exchange_here(address, port, requests[i], abort_after);
                --running;
            });
            threads << thread;
            thread->start();
        }
        // Each step is bounded, so the clients end; the margin covers large bodies.
        QDeadlineTimer deadline(10 * step_timeout);
        while (running > 0 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        for (QThread *thread : threads) {
            thread->wait();
            delete thread;
        }
        // Whatever the server queued before it closed has been posted by now.
        QCoreApplication::processEvents();
        return received;
    }

    static QByteArray exchange(quint16 port, const QByteArray &request, qint64 abort_after = -1,
            const QHostAddress &address = QHostAddress::LocalHost)
    {
        return exchange_all(port, { request }, abort_after, address).first();
    }

    static HttpTestReply parse(const QByteArray &raw)
    {
        HttpTestReply reply;
        const int end = raw.indexOf("\r\n\r\n");
        if (end < 0)
            return reply;
        const QList<QByteArray> lines = raw.left(end).split('\n');
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        if (status.size() >= 3) {
            reply.status = status.at(1).toInt();
            reply.description =
                    lines.first().trimmed().mid(status.at(0).size() + status.at(1).size() + 2);
        }
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            reply.headers.append({ lines.at(i).left(colon), lines.at(i).mid(colon + 1).trimmed() });
        }
        reply.body = raw.mid(end + 4);
        return reply;
    }

private:
    static QByteArray exchange_here(const QHostAddress &address, quint16 port,
            const QByteArray &request, qint64 abort_after)
    {
        QByteArray received;
        QTcpSocket socket;
        socket.connectToHost(address, port);
        if (!socket.waitForConnected(step_timeout))
            return received;
        socket.write(request);
        while (abort_after < 0 || received.size() < abort_after) {
            if (!socket.waitForReadyRead(step_timeout))
                break;
            received += socket.readAll();
        }
        received += socket.readAll();
        socket.abort();
        return received;
    }
};

#endif // HTTPTESTCLIENT_H
