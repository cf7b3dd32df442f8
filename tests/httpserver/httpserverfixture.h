#ifndef HTTPSERVERFIXTURE_H
#define HTTPSERVERFIXTURE_H

// Helpers for the tests of the server's threads: settings on a temporary INI file, a free
// loopback port, a request handler with test behaviours, an HTTP client that reads whole
// responses, and a raw client that sends without reading.

#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"
#include "messagecapture.h"
#include "rawsocket.h"

#include <QAtomicInt>
#include <QDeadlineTimer>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <memory>

// Longest wait for any single event in these tests, in milliseconds.
constexpr int eventWaitMilliseconds = 10000;

// Spins the event loop of this thread (the listener's) until done() or the time is up.
template <typename Condition>
bool spinUntil(Condition done, int milliseconds = eventWaitMilliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Server settings in group UPDATE of a fresh "config.ini" in a temporary folder.
class TestSettings
{
public:
    TestSettings()
        : settings(directory.filePath(QStringLiteral("config.ini")), QSettings::IniFormat)
    {
        settings.beginGroup(QStringLiteral("UPDATE"));
    }
    QSettings *operator->() { return &settings; }
    QSettings *get() { return &settings; }
    QString folder() const { return directory.path(); }

private:
    QTemporaryDir directory;
    QSettings settings;
};

// Writes a self-signed RSA key and certificate for 127.0.0.1 into folder as keyName and certName.
inline bool makeCertificate(const QString &folder,
        const QString &keyName = QStringLiteral("key.pem"),
        const QString &certName = QStringLiteral("cert.pem"))
{
    QProcess openssl;
    openssl.setWorkingDirectory(folder);
    openssl.start(QStringLiteral("openssl"),
            { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", keyName, "-out", certName,
                    "-days", "2", "-subj", "/CN=127.0.0.1" });
    return openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit
            && openssl.exitCode() == 0;
}

// A port that was free a moment ago on 127.0.0.1 (the listener's port 0 would mean port 80).
inline quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Answers by path:
//   /len           "hello" with a Content-Length
//   /chunked       "ab" and "cd" in chunked coding
//   /nolength      "unframed", neither length nor chunks ("connection: close" in lower case)
//   /closeheader   "x" with "Connection: Close"
//   /big?size=N    N bytes with a Content-Length
//   /endless       4096-byte blocks until the thread is asked to stop
// Every answer carries "X-Thread", the serving thread's address.
class TestRequestHandler : public quenmar::HttpRequestHandler
{
public:
    void service(quenmar::HttpRequest &request, quenmar::HttpResponse &response) override
    {
        served.ref();
        const QByteArray path = request.path();
        response.setHeader("X-Thread",
                QByteArray::number(reinterpret_cast<quintptr>(QThread::currentThread()), 16));
        if (path == "/len") {
            response.write("hello", true);
        } else if (path == "/chunked") {
            response.write("ab");
            response.write("cd", true);
        } else if (path == "/nolength") {
            response.setHeader("connection", "close");
            response.write("unframed");
        } else if (path == "/closeheader") {
            response.setHeader("Connection", "Close");
            response.write("x", true);
        } else if (path == "/big") {
            response.write(QByteArray(request.parameter("size").toInt(), 'b'), true);
        } else if (path == "/endless") {
            const QByteArray block(4096, 'e');
            while (!QThread::currentThread()->isInterruptionRequested() && response.isConnected())
                response.write(block);
            interrupted.storeRelease(QThread::currentThread()->isInterruptionRequested());
        } else {
            response.setStatus(404, "not found");
            response.write("none", true);
        }
    }

    QAtomicInt served;
    QAtomicInt interrupted;
};

// One parsed response.
struct TestResponse
{
    int status = 0;
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers;
    QByteArray body;
};

// An HTTP client on this thread; every wait spins the event loop so a listener here keeps running.
class TestClient
{
public:
    explicit TestClient(QTcpSocket *socket = nullptr)
        : owned(socket ? nullptr : new QTcpSocket), socket(socket ? socket : owned.get())
    {
    }

    // True once connected, even if the server has already closed the connection again.
    bool connectTo(quint16 port)
    {
        bool connected = false;
        const QMetaObject::Connection watch = QObject::connect(
                socket, &QTcpSocket::connected, [&connected] { connected = true; });
        socket->connectToHost(QHostAddress::LocalHost, port);
        spinUntil([&connected] { return connected; });
        QObject::disconnect(watch);
        return connected;
    }
    void send(const QByteArray &data) { socket->write(data); }
    void abort() { socket->abort(); }

    // Reads the next response: body framed by Content-Length, chunks, or the end of the stream.
    bool readResponse(TestResponse &response)
    {
        response = TestResponse();
        int headerEnd = -1;
        if (!fill([&] { return (headerEnd = buffer.indexOf("\r\n\r\n")) >= 0; }))
            return false;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        buffer.remove(0, headerEnd + 4);
        response.statusLine = lines.first().trimmed();
        response.status = response.statusLine.split(' ').value(1).toInt();
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            response.headers.insert(lines.at(i).left(colon), lines.at(i).mid(colon + 1).trimmed());
        }
        if (response.headers.contains("Content-Length")) {
            const int length = response.headers.value("Content-Length").toInt();
            if (!fill([&] { return buffer.size() >= length; }))
                return false;
            response.body = buffer.left(length);
            buffer.remove(0, length);
            return true;
        }
        if (response.headers.value("Transfer-Encoding") == "chunked") {
            forever {
                int lineEnd = -1;
                if (!fill([&] { return (lineEnd = buffer.indexOf("\r\n")) >= 0; }))
                    return false;
                const int size = buffer.left(lineEnd).toInt(nullptr, 16);
                if (!fill([&] { return buffer.size() >= lineEnd + 2 + size + 2; }))
                    return false;
                response.body += buffer.mid(lineEnd + 2, size);
                buffer.remove(0, lineEnd + 2 + size + 2);
                if (size == 0)
                    return true;
            }
        }
        if (!waitClosed())
            return false;
        response.body = buffer;
        buffer.clear();
        return true;
    }

    // Everything until the server closes; false if it did not close in time.
    bool readUntilClosed(QByteArray &received)
    {
        const bool closed = waitClosed();
        received = buffer;
        buffer.clear();
        return closed;
    }

    bool waitClosed(int milliseconds = eventWaitMilliseconds)
    {
        return spinUntil(
                [this] {
                    buffer += socket->readAll();
                    return socket->state() == QAbstractSocket::UnconnectedState;
                },
                milliseconds);
    }
    bool isConnected() const { return socket->state() == QAbstractSocket::ConnectedState; }
    QTcpSocket *tcpSocket() const { return socket; }

private:
    template <typename Condition> bool fill(Condition enough)
    {
        return spinUntil([&] {
            buffer += socket->readAll();
            return enough();
        });
    }

    std::unique_ptr<QTcpSocket> owned;
    QTcpSocket *socket;
    QByteArray buffer;
};

// A client on the bare socket API: its received bytes stay in the system's queue until it reads,
// like a device that sends its whole request before reading, or never reads at all.
class RawClient
{
public:
    ~RawClient()
    {
        if (descriptor != rawsocket::none)
            rawsocket::close(descriptor);
    }

    // receiveBuffer > 0 shrinks the receive queue, so a client that does not read stalls the
    // server sooner. A source address other than 0 (such as 127.0.0.2, another loopback address)
    // is the one the server sees.
    bool connectTo(quint16 port, int receiveBuffer = 0, quint32 sourceAddress = 0)
    {
        descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
        if (descriptor == rawsocket::none)
            return false;
        if (receiveBuffer > 0)
            ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF,
                    reinterpret_cast<const char *>(&receiveBuffer), sizeof receiveBuffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        if (sourceAddress != 0) {
            address.sin_addr.s_addr = htonl(sourceAddress);
            if (::bind(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                return false;
        }
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(descriptor, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        rawsocket::makeNonBlocking(descriptor);
        return true;
    }

    // Sends what the system takes without blocking; returns the number of bytes taken.
    qint64 send(const QByteArray &data)
    {
        const auto sent = ::send(descriptor, data.constData(), data.size(), rawsocket::sendFlags);
        return sent < 0 ? 0 : sent;
    }

    enum Stream { Open, Ended, Reset };

    // Appends what has arrived, without waiting; says whether the stream has ended since.
    Stream readAvailable(QByteArray &received)
    {
        char chunk[4096];
        forever {
            const auto count = ::recv(descriptor, chunk, sizeof chunk, rawsocket::receiveFlags);
            if (count > 0) {
                received.append(chunk, int(count));
                continue;
            }
            if (count == 0)
                return Ended;
            return rawsocket::wouldBlock() ? Open : Reset;
        }
    }

    // Reads until the end of the stream while spinning the event loop. Returns false on a reset or
    // when the stream did not end in time; received holds what arrived either way.
    bool readUntilClosed(QByteArray &received, int milliseconds = eventWaitMilliseconds)
    {
        received.clear();
        Stream stream = Open;
        spinUntil([&] { return (stream = readAvailable(received)) != Open; }, milliseconds);
        return stream == Ended;
    }

    // True once the server has closed or reset the connection (without consuming data).
    bool peerClosed()
    {
        pollfd entry{ descriptor, POLLIN, 0 };
        if (rawsocket::poll(&entry) <= 0)
            return false;
        if (entry.revents & (POLLHUP | POLLERR))
            return true;
        char probe;
        const auto count = ::recv(descriptor, &probe, 1, MSG_PEEK | rawsocket::receiveFlags);
        return count == 0 || (count < 0 && !rawsocket::wouldBlock());
    }

private:
    rawsocket::Descriptor descriptor = rawsocket::none;
};

#endif // HTTPSERVERFIXTURE_H
