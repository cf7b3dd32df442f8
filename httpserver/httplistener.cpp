#include "httplistener.h"

#include "httpconnectionhandlerpool.h"
#include "httpdescriptorlimit.h"
#include "httpfairshare.h"
#include "httplogging.h"
#include "httpnativesocket.h"
#include "httppeerconnections.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSettings>
#include <QTcpSocket>
#include <QtDebug>

namespace quenmar {

const char HttpListener::tooManyConnectionsAnswer[] =
        "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";

HttpListener::HttpListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent)
    : QTcpServer(parent), settings(settings), requestHandler(requestHandler),
      peerConnections(std::make_shared<HttpPeerConnections>())
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");

    acceptRetryTimer.setSingleShot(true);
    connect(&acceptRetryTimer, &QTimer::timeout, this, &QTcpServer::resumeAccepting);
    connect(this, &QTcpServer::acceptError, this, &HttpListener::acceptFailed);
    waitTimer.setInterval(reclaimPollInterval);
    connect(&waitTimer, &QTimer::timeout, this, &HttpListener::serveWaiting);
    // The request handler usually dies before the application object that owns the listener,
    // so the handler threads are stopped while it still exists.
    if (QCoreApplication *application = QCoreApplication::instance())
        connect(application, &QCoreApplication::aboutToQuit, this, &HttpListener::close);

    listen();
}

HttpListener::~HttpListener()
{
    close();
    qCDebug(httpLog, "HttpListener: destroyed");
}

quint16 HttpListener::configuredPort(const QSettings &settings)
{
    const quint16 port = static_cast<quint16>(settings.value(QStringLiteral("QZPORT")).toUInt());
    return port == 0 ? defaultPort : port;
}

void HttpListener::listen()
{
    if (!pool)
        pool = new HttpConnectionHandlerPool(settings, requestHandler, peerConnections);
    const QString host = settings->value(QStringLiteral("QZHOST")).toString();
    qCDebug(httpLog) << "read port:"
                     << static_cast<quint16>(settings->value(QStringLiteral("QZPORT")).toUInt());
    const quint16 port = configuredPort(*settings);
    const QHostAddress address =
            host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host);
    QTcpServer::listen(address, port);
    if (!isListening()) {
        qCCritical(httpLog, "HttpListener: Cannot bind on port %i: %s", port,
                qPrintable(errorString()));
        return;
    }
    if (!HttpNativeSocket::setListenBacklog(socketDescriptor(), listenBacklog))
        qCWarning(httpLog, "HttpListener: cannot enlarge the listen backlog to %i", listenBacklog);
    qCDebug(httpLog, "HttpListener: Listening on port %i", port);
}

void HttpListener::close()
{
    acceptRetryTimer.stop();
    QTcpServer::close();
    waitTimer.stop();
    for (const WaitingConnection &connection : qAsConst(waiting))
        HttpNativeSocket::closeDescriptor(connection.descriptor);
    waiting.clear();
    qCDebug(httpLog, "HttpListener: closed");
    delete pool;
    pool = nullptr;
    // Every connection ended with the pool's handlers.
    peerConnections->clear();
}

void HttpListener::incomingConnection(tSocketDescriptor socketDescriptor)
{
    if (!descriptorsSuffice(socketDescriptor))
        return;
    const QHostAddress peer = HttpNativeSocket::peerAddress(socketDescriptor);
    const int maxPerAddress =
            HttpFairShare::addressLimit(settings->value(QStringLiteral("maxConnectionsPerAddress"),
                                                        defaultMaxConnectionsPerAddress)
                                                .toInt(),
                    pool ? pool->maxThreads() : 0);
    if (!peerConnections->admit(socketDescriptor, peer, maxPerAddress)) {
        qCDebug(httpLog, "HttpListener: Too many connections from %s", qPrintable(peer.toString()));
        refuseConnection(socketDescriptor);
        return;
    }
    // Those already waiting come first.
    serveWaiting();
    const bool reclaimed = pool && pool->reclaimSlowConnection();
    HttpConnectionHandler *handler = pool ? pool->acquireHandler() : nullptr;
    if (!handler && reclaimed) {
        waiting.append({ socketDescriptor, QDeadlineTimer(reclaimWait) });
        waitTimer.start();
        return;
    }
    if (!handler) {
        refuseAdmitted(socketDescriptor);
        return;
    }
    handOver(handler, socketDescriptor);
}

void HttpListener::serveWaiting()
{
    while (!waiting.isEmpty()) {
        HttpConnectionHandler *handler = pool ? pool->acquireHandler() : nullptr;
        if (handler) {
            handOver(handler, waiting.takeFirst().descriptor);
            continue;
        }
        // Later arrivals wait until later.
        if (!waiting.first().deadline.hasExpired())
            break;
        refuseAdmitted(waiting.takeFirst().descriptor);
    }
    if (waiting.isEmpty())
        waitTimer.stop();
}

void HttpListener::handOver(HttpConnectionHandler *handler, tSocketDescriptor socketDescriptor)
{
    // The handler lives on its own thread and adopts the descriptor there.
    QMetaObject::invokeMethod(handler, "handleConnection", Qt::QueuedConnection,
            Q_ARG(tSocketDescriptor, socketDescriptor));
}

void HttpListener::refuseAdmitted(tSocketDescriptor socketDescriptor)
{
    peerConnections->release(peerConnections->claim(socketDescriptor));
    qCDebug(httpLog, "HttpListener: Too many incoming connections");
    refuseConnection(socketDescriptor);
}

bool HttpListener::descriptorsSuffice(tSocketDescriptor connection)
{
    // The connection's own descriptor is open already; a handler thread still to be created
    // needs its wake-up descriptors, without which its event loop would abort the process.
    int needed = descriptorReserve + descriptorsPerConnection;
    if (pool && pool->idleHandlerCount() == 0)
        needed += descriptorsPerThread;
    if (HttpDescriptorLimit::canOpen(QTcpServer::socketDescriptor(), needed)) {
        if (descriptorsShort)
            qCDebug(httpLog, "HttpListener: enough file descriptors again");
        descriptorsShort = false;
        return true;
    }
    // Headroom comes and goes with every connection that closes: only a quiet spell ends a burst.
    if (!lastDescriptorShortage.isValid() || lastDescriptorShortage.hasExpired(descriptorBurstGap))
        qCWarning(httpLog, "HttpListener: too few file descriptors left, refusing connections");
    lastDescriptorShortage.start();
    descriptorsShort = true;
    // Not the lingering answer of refuseConnection: that would hold the descriptor for up to
    // lingerTime while descriptors are what is short.
    HttpNativeSocket::answerAndClose(
            connection, tooManyConnectionsAnswer, qint64(qstrlen(tooManyConnectionsAnswer)));
    return false;
}

void HttpListener::refuseConnection(tSocketDescriptor socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        HttpNativeSocket::closeDescriptor(socketDescriptor);
        return;
    }
    socket->setReadBufferSize(HttpConnectionHandler::readBufferSize);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    // The request is never read, and closing with unread bytes would reset the connection and
    // could destroy the answer; so the answer is followed by the end of the stream while the
    // request is dropped until the client closes or the linger time is over.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            HttpNativeSocket::shutdownSending(socket->socketDescriptor());
    });
    QTimer::singleShot(HttpConnectionHandler::lingerTime, socket, &QTcpSocket::abort);
    socket->write(tooManyConnectionsAnswer);
}

void HttpListener::acceptFailed()
{
    // Qt stops accepting after any error but a temporary one (for example when descriptors run
    // out); without a retry the server would stay deaf for the rest of the run.
    qCCritical(httpLog, "HttpListener: accept error: %s", qPrintable(errorString()));
    acceptRetryTimer.start(acceptRetryDelay);
}

} // namespace quenmar
