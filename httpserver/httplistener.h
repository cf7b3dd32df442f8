#ifndef QUENMAR_HTTPLISTENER_H
#define QUENMAR_HTTPLISTENER_H

// Lives on the thread that created it, the thread of its settings object; connections are served
// on the pool's handler threads.

#include "httpconnectionhandler.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QTcpServer>
#include <QTimer>

#include <memory>

class QSettings;

namespace quenmar {

class HttpConnectionHandlerPool;
class HttpPeerConnections;
class HttpRequestHandler;

// The listening socket of the HTTP server. Listens on "QZHOST" (any address when empty) and
// "QZPORT" (80 when 0 or absent) from its constructor on, and hands each accepted connection to an
// idle handler of its pool; when none can be had, it answers the fixed 503 text itself and closes.
// The same answer goes at once to a peer address that already holds "maxConnectionsPerAddress"
// connections (default 16, 0 for no cap of its own) or its share of the pool
// (HttpFairShare::addressLimit()), so one client cannot take every handler, and to any
// connection while too few file descriptors remain for serving it (then with one warning per
// burst), so running out of descriptors cannot end the process. A newcomer that finds the pool
// crowded makes it close its slowest connection below the transfer-rate floor
// (HttpConnectionHandlerPool::reclaimSlowConnection()); when no handler is free at once, the
// newcomer waits up to reclaimWait for that one.
// The settings object (with the wanted group begun) and the request handler are not owned; both
// must outlive the listener or its close(). The listener closes itself when the application is
// about to quit, so no connection thread is still running when the request handler goes away.
class HttpListener : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpListener)

public:
    // The answer when no handler is free.
    static const char tooManyConnectionsAnswer[];
    // Port used when "QZPORT" is 0 or absent.
    static constexpr quint16 defaultPort = 80;
    // Accept queue length; Qt's own 50 drops connections when a fleet of devices connects at once
    // (the same value nginx uses).
    static constexpr int listenBacklog = 511;
    // After an accept error Qt stops accepting; it is resumed after this many milliseconds.
    static constexpr int acceptRetryDelay = 1000;
    // Connections one peer address may hold when "maxConnectionsPerAddress" is absent; a device
    // opens one at a time.
    static constexpr int defaultMaxConnectionsPerAddress = 16;
    // File descriptors that must stay free for the rest of the program (windows, the image
    // builder's files, the audio worker) after a connection is taken on.
    static constexpr int descriptorReserve = 16;
    // Descriptors a connection may open beyond its socket: the file it is served, and a
    // multipart upload's spooled body and one uploaded file while it is created.
    static constexpr int descriptorsPerConnection = 4;
    // Descriptors a new handler thread's event loop needs for its wake-up: an eventfd or a pipe.
    static constexpr int descriptorsPerThread = 2;
    // Milliseconds without a shortage that end a burst of them (one warning per burst).
    static constexpr int descriptorBurstGap = 10000;
    // Longest wait of a connection for the handler whose slow connection was closed for it, in
    // milliseconds; the 503 answer follows.
    static constexpr int reclaimWait = 2000;
    // How often a waiting connection looks for a free handler, in milliseconds.
    static constexpr int reclaimPollInterval = 5;

    HttpListener(
            QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent = nullptr);
    // Calls close().
    ~HttpListener() override;

    // Reads host and port, creates the pool if there is none, and starts listening. A port that
    // cannot be bound is logged; the listener then never accepts.
    void listen();
    // Stops listening and deletes the pool, which stops and joins every handler thread.
    void close();

    // The port "QZPORT" asks for: its low 16 bits, with 0 (or no value) meaning defaultPort.
    static quint16 configuredPort(const QSettings &settings);

    // The pool while listening, else null; the listener keeps ownership.
    HttpConnectionHandlerPool *connectionHandlerPool() const { return pool; }

protected:
    void incomingConnection(tSocketDescriptor socketDescriptor) override;

private:
    // True when enough descriptors remain to serve connection; otherwise it has been answered
    // and closed at once, holding nothing.
    bool descriptorsSuffice(tSocketDescriptor connection);
    void refuseConnection(tSocketDescriptor socketDescriptor);
    // Ends the count of an admitted connection and refuses it for want of a handler.
    void refuseAdmitted(tSocketDescriptor socketDescriptor);
    void handOver(HttpConnectionHandler *handler, tSocketDescriptor socketDescriptor);
    // Gives the connections that wait for a reclaimed handler the free ones, in their order of
    // arrival; refuses those whose wait is over.
    void serveWaiting();
    void acceptFailed();

    QSettings *settings;
    HttpRequestHandler *requestHandler;
    HttpConnectionHandlerPool *pool = nullptr;
    QTimer acceptRetryTimer;
    const std::shared_ptr<HttpPeerConnections> peerConnections;
    // Connections are being refused for want of descriptors; warned once per burst.
    bool descriptorsShort = false;
    // Since the latest refusal for want of descriptors; shortages closer than
    // descriptorBurstGap to it belong to the same burst, however often headroom returned between.
    QElapsedTimer lastDescriptorShortage;
    struct WaitingConnection
    {
        tSocketDescriptor descriptor = -1;
        QDeadlineTimer deadline;
    };
    // Admitted connections for which a slow one was closed, oldest first.
    QList<WaitingConnection> waiting;
    QTimer waitTimer;
};

} // namespace quenmar

#endif // QUENMAR_HTTPLISTENER_H
