#ifndef QUENMAR_HTTPCONNECTIONHANDLERPOOL_H
#define QUENMAR_HTTPCONNECTIONHANDLERPOOL_H

// Lives on the thread that created it (with its settings object); its handlers run on their own
// threads, and only their busy flags and transfer counts are read from here.

#include "httpfairshare.h"
#include "httptransfermeter.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

class QSettings;
class QSslConfiguration;

namespace quenmar {

class HttpConnectionHandler;
class HttpPeerConnections;
class HttpRequestHandler;

// Keeps the connection handlers: reuses idle ones, creates new ones up to "maxThreads", and removes
// one surplus idle handler per "cleanupInterval" tick down to "minThreads". Loads the optional TLS
// key and certificate ("sslKeyFile", "sslCertFile") once, so all connections are plain TCP or all
// TLS. The settings object and the request handler are not owned and must outlive the pool; the
// settings are read on this object's thread only, and the handlers get plain copies.
// With a transfer-rate floor ("minTransferRate", "transferRateWindow", read once; see
// HttpFairShare) it samples the byte count of every busy handler's connection
// samplesPerWindow times per window, so a newcomer can take the place of a connection that
// stayed below the floor (reclaimSlowConnection()). Where the system cannot count a
// connection's bytes, sampling ends at the first try and no connection is closed for its rate.
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandlerPool)

public:
    // Values of the keys when they are absent.
    static constexpr int defaultMinThreads = 1;
    static constexpr int defaultMaxThreads = 100;
    static constexpr int defaultCleanupInterval = 1000; // milliseconds
    // Samples of each connection's byte count per transfer-rate window.
    static constexpr int samplesPerWindow = 10;

    // Every handler releases the connections counted in peerConnections (if any) when they end.
    HttpConnectionHandlerPool(QSettings *settings, HttpRequestHandler *requestHandler,
            std::shared_ptr<HttpPeerConnections> peerConnections = nullptr);
    // Stops every handler's thread at once, then joins and deletes them.
    ~HttpConnectionHandlerPool() override;

    // Returns an idle handler, already marked busy, or a new one while fewer than "maxThreads"
    // exist; null when the pool is full. The pool keeps ownership.
    HttpConnectionHandler *acquireHandler();

    // Number of handlers, and how many of them are idle.
    int handlerCount() const;
    int idleHandlerCount() const;
    // The value of "maxThreads" now.
    int maxThreads() const;

    // When the pool is crowded (HttpFairShare::isCrowded()), closes the connection that moved
    // the fewest bytes per second over its last whole window, if that is below the floor. Its
    // handler turns idle once its thread has noticed, usually within milliseconds. Returns
    // whether a connection was closed; a closed one is judged again only after a new window.
    bool reclaimSlowConnection();

public slots:
    // Removes at most one idle handler beyond the first "minThreads" idle ones.
    void cleanup();

private:
    void loadTlsConfiguration();
    // Adds the byte count of every busy handler's connection to its meter.
    void sampleTransfers();
    // The handler has been handed a new connection: its meter starts again.
    HttpConnectionHandler *handOut(HttpConnectionHandler *handler);

    QSettings *settings;
    HttpRequestHandler *requestHandler;
    QList<HttpConnectionHandler *> pool;
    QTimer cleanupTimer;
    mutable QMutex mutex;
    QSslConfiguration *sslConfiguration = nullptr;
    std::shared_ptr<HttpPeerConnections> peerConnections;
    const HttpFairShare fairShare;
    // Runs while transfer rates are measured.
    QTimer meterTimer;
    // The time of the samples.
    QElapsedTimer clock;
    // One meter per handler, touched on this object's thread only.
    QHash<const HttpConnectionHandler *, HttpTransferMeter> meters;
};

} // namespace quenmar

#endif // QUENMAR_HTTPCONNECTIONHANDLERPOOL_H
