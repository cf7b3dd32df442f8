#ifndef QUENMAR_HTTPCONNECTIONHANDLER_H
#define QUENMAR_HTTPCONNECTIONHANDLER_H

// Crosses threads: the object, its socket and timers live on the handler's own thread; the pool's
// thread calls only the constructor, isBusy(), setBusy(), transferredBytes(), cutConnection(),
// stop() and the destructor.

#include "httpconnectionsettings.h"

#include <QAbstractSocket>
#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

class QSslConfiguration;
class QTcpSocket;
class QThread;

namespace quenmar {

class HttpPeerConnections;
class HttpRequest;
class HttpRequestHandler;

// A native socket descriptor as the server hands it from the listener's thread to a handler's
// thread. Registered with the meta-type system under this name at its real width (64 bits on
// 64-bit builds), since the queued call copies exactly the registered size.
typedef qintptr tSocketDescriptor;

// Serves one connection at a time on a thread of its own, request after request: reads and parses
// each request, calls the request handler's service(), finishes the response, then keeps the
// connection open or closes it. The pool hands it connections through a queued call of
// handleConnection() and reuses it (with its thread and socket) afterwards.
class HttpConnectionHandler : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)

public:
    // Sent instead of an answer when a request exceeds its size limits or is malformed.
    static const char entityTooLargeAnswer[];
    // Sent instead of an answer when a request states differing body lengths.
    static const char badRequestAnswer[];
    // Sent instead of an answer when a request has a transfer coding (chunked request bodies are
    // not supported).
    static const char notImplementedAnswer[];
    // After a fixed error answer the rest of the request is read and dropped for at most this
    // long, in milliseconds, before closing: closing with unread bytes makes the system reset
    // the connection, which can destroy the answer before the client reads it.
    static constexpr int lingerTime = 1000;
    // Largest number of received bytes held per socket, so a peer that sends without reading
    // answers cannot grow the process's memory.
    static constexpr qint64 readBufferSize = 65536;

    // Starts the handler's thread. requestHandler is not owned and must outlive this object;
    // sslConfiguration (null for plain TCP) is copied into the socket at once. Each adopted
    // connection counted in peerConnections (if any) is released there when it ends. Call on the
    // pool's thread.
    HttpConnectionHandler(const HttpConnectionSettings &settings,
            HttpRequestHandler *requestHandler, const QSslConfiguration *sslConfiguration = nullptr,
            std::shared_ptr<HttpPeerConnections> peerConnections = nullptr);
    // Stops the thread (see stop()) and waits for it.
    ~HttpConnectionHandler() override;

    // True from hand-over until the connection has ended. Safe from any thread.
    bool isBusy() const { return busy.load(std::memory_order_acquire); }
    // Marks the handler taken; called by the pool before it hands over a connection.
    void setBusy() { busy.store(true, std::memory_order_release); }

    // Bytes the open connection has moved so far, both ways, or a
    // HttpNativeSocket::TransferredBytesResult (see HttpNativeSocket::transferredBytes()). Safe
    // from any thread.
    qint64 transferredBytes();
    // Ends the open connection, if any, without waiting: both directions are shut, so a blocked
    // read or write fails at once and the handler becomes idle when its thread has noticed. Safe
    // from any thread.
    void cutConnection();

    // Asks the thread to end without waiting for it: interruption is requested (for a request
    // handler in a long transfer), the active connection is cut so no blocked read or write can
    // hold the thread, and the event loop is told to quit. Lets a pool stop many handlers at once
    // before joining each in its destructor.
    void stop();

public slots:
    // Adopts an accepted connection; invoked through a queued call from the listener's thread.
    void handleConnection(tSocketDescriptor socketDescriptor);

private slots:
    void readTimeout();
    void read();
    void disconnected();
    void thread_done();

private:
    void makeSocket();
    void serveRequest();
    // The connection has ended or was never adopted: the handler is free again.
    void connectionEnded();
    // Writes a fixed error answer, then lingers (see lingerTime) before the connection closes.
    void answerAndLinger(const QByteArray &answer);
    void lingerTimeout();
    // Waits until all queued output is written. Returns false after aborting the connection
    // because the output made no progress for writeStallTimeout or the socket failed.
    bool flush();
    qint64 pendingOutput() const;
    void socketStateChanged(QAbstractSocket::SocketState state);

    const HttpConnectionSettings settings;
    QTcpSocket *socket = nullptr;
    QThread *thread;
    QTimer readTimer;
    std::unique_ptr<HttpRequest> currentRequest;
    HttpRequestHandler *requestHandler;
    // Written on the handler's thread (cleared) and on the pool's thread (set).
    std::atomic<bool> busy{ false };
    const QSslConfiguration *sslConfiguration;
    const std::shared_ptr<HttpPeerConnections> peerConnections;
    // The peer whose count the open connection holds; null when not counted.
    QHostAddress countedPeer;
    QTimer lingerTimer;
    bool lingering = false;
    // True while serveRequest() runs; the request must then outlive a disconnect.
    bool serving = false;
    // The descriptor of the open connection, or -1, so stop() can cut it from another thread.
    // Cleared when the socket leaves the connected state. After a peer's close the socket layer
    // closes the descriptor just before that; a stop() or cutConnection() in that gap cannot hit
    // another connection, since connections are accepted only on the thread that calls them.
    QMutex descriptorMutex;
    tSocketDescriptor activeDescriptor = -1;
};

} // namespace quenmar

#endif // QUENMAR_HTTPCONNECTIONHANDLER_H
