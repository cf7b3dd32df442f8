#ifndef QUENMAR_HTTPLISTENER_H
#define QUENMAR_HTTPLISTENER_H

// Lives on the thread that created it, the thread of its settings object; connections are served
// on the pool's handler threads.

#include "httpconnectionhandler.h"

#include <QTcpServer>
#include <QTimer>

class QSettings;

namespace quenmar {

class HttpConnectionHandlerPool;
class HttpRequestHandler;

// The listening socket of the HTTP server. Listens on "QZHOST" (any address when empty) and
// "QZPORT" (80 when 0 or absent) from its constructor on, and hands each accepted connection to an
// idle handler of its pool; when none can be had, it answers the fixed 503 text itself and closes.
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
    void refuseConnection(tSocketDescriptor socketDescriptor);
    void acceptFailed();

    QSettings *settings;
    HttpRequestHandler *requestHandler;
    HttpConnectionHandlerPool *pool = nullptr;
    QTimer acceptRetryTimer;
};

} // namespace quenmar

#endif // QUENMAR_HTTPLISTENER_H
