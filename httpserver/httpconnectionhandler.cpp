#include "httpconnectionhandler.h"

#include "httplogging.h"
#include "httpnativesocket.h"
#include "httppeerconnections.h"
#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"

#include <QMutexLocker>
#include <QScopedValueRollback>
#include <QSemaphore>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>

namespace quenmar {

const char HttpConnectionHandler::entityTooLargeAnswer[] =
        "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
const char HttpConnectionHandler::badRequestAnswer[] =
        "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n400 Bad Request\r\n";
const char HttpConnectionHandler::notImplementedAnswer[] =
        "HTTP/1.1 501 not implemented\r\nConnection: close\r\n\r\n501 Not implemented\r\n";

namespace {

const char *answerToAborted(HttpRequest::AbortReason reason)
{
    switch (reason) {
    case HttpRequest::ConflictingContentLength:
    case HttpRequest::MalformedHeader:
        return HttpConnectionHandler::badRequestAnswer;
    case HttpRequest::TransferEncodingPresent:
        return HttpConnectionHandler::notImplementedAnswer;
    case HttpRequest::NotAborted:
    case HttpRequest::LimitOrSyntax:
        break;
    }
    return HttpConnectionHandler::entityTooLargeAnswer;
}

} // namespace

HttpConnectionHandler::HttpConnectionHandler(const HttpConnectionSettings &settings,
        HttpRequestHandler *requestHandler, const QSslConfiguration *sslConfiguration,
        std::shared_ptr<HttpPeerConnections> peerConnections)
    : settings(settings), thread(new QThread), requestHandler(requestHandler),
      sslConfiguration(sslConfiguration), peerConnections(std::move(peerConnections))
{
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    // The thread makes its event loop's wake-up descriptor as it starts. Waiting for that keeps
    // the listener's count of free descriptors true when it takes on the next connection; a
    // burst of connections would otherwise start threads whose descriptors the sockets accepted
    // meanwhile have taken, and such a thread aborts the process.
    QSemaphore running;
    const QMetaObject::Connection watch = connect(
            thread, &QThread::started, thread, [&running] { running.release(); },
            Qt::DirectConnection);
    thread->start();
    running.acquire();
    disconnect(watch);
    qCDebug(httpLog, "HttpConnectionHandler (%p): thread started", static_cast<void *>(this));

    moveToThread(thread);
    readTimer.moveToThread(thread);
    readTimer.setSingleShot(true);
    lingerTimer.moveToThread(thread);
    lingerTimer.setSingleShot(true);

    makeSocket();
    socket->moveToThread(thread);

    connect(socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(socket, &QTcpSocket::stateChanged, this, &HttpConnectionHandler::socketStateChanged);
    connect(&readTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    connect(&lingerTimer, &QTimer::timeout, this, &HttpConnectionHandler::lingerTimeout);
    connect(thread, &QThread::finished, this, &HttpConnectionHandler::thread_done);

    qCDebug(httpLog, "HttpConnectionHandler (%p): constructed", static_cast<void *>(this));
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    stop();
    thread->wait();
    // The thread has finished, so it can go now; deleteLater would never run once the
    // application's event loop has ended.
    delete thread;
    qCDebug(httpLog, "HttpConnectionHandler (%p): destroyed", static_cast<void *>(this));
}

qint64 HttpConnectionHandler::transferredBytes()
{
    QMutexLocker lock(&descriptorMutex);
    return activeDescriptor == -1 ? HttpNativeSocket::TransferredNoConnection
                                  : HttpNativeSocket::transferredBytes(activeDescriptor);
}

void HttpConnectionHandler::cutConnection()
{
    QMutexLocker lock(&descriptorMutex);
    if (activeDescriptor != -1)
        HttpNativeSocket::shutdownBoth(activeDescriptor);
}

void HttpConnectionHandler::stop()
{
    thread->requestInterruption();
    cutConnection();
    thread->quit();
}

void HttpConnectionHandler::makeSocket()
{
    if (sslConfiguration) {
        auto *sslSocket = new QSslSocket;
        sslSocket->setSslConfiguration(*sslConfiguration);
        socket = sslSocket;
        qCDebug(httpLog, "HttpConnectionHandler (%p): SSL is enabled", static_cast<void *>(this));
    } else {
        socket = new QTcpSocket;
    }
    socket->setReadBufferSize(readBufferSize);
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor)
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): handle new connection",
            static_cast<void *>(this));
    setBusy();
    // Drops whatever the previous connection left in the reused socket.
    socket->abort();
    lingering = false;
    // Claimed while the descriptor is still open, so its number cannot name another connection.
    if (peerConnections)
        countedPeer = peerConnections->claim(socketDescriptor);
    {
        // Checked under the lock that stop() takes, so a connection handed over while the
        // handler stops is either refused here or cut by stop().
        QMutexLocker lock(&descriptorMutex);
        if (thread->isInterruptionRequested()) {
            HttpNativeSocket::closeDescriptor(socketDescriptor);
            connectionEnded();
            return;
        }
        activeDescriptor = socketDescriptor;
    }

    if (!socket->setSocketDescriptor(socketDescriptor)) {
        qCCritical(httpLog, "HttpConnectionHandler (%p): cannot initialize socket: %s",
                static_cast<void *>(this), qPrintable(socket->errorString()));
        {
            QMutexLocker lock(&descriptorMutex);
            activeDescriptor = -1;
        }
        // Nobody owns the descriptor now; without this the connection would stay open and the
        // handler taken for ever.
        HttpNativeSocket::closeDescriptor(socketDescriptor);
        connectionEnded();
        return;
    }

    if (auto *sslSocket = qobject_cast<QSslSocket *>(socket)) {
        qCDebug(httpLog, "HttpConnectionHandler (%p): Starting encryption",
                static_cast<void *>(this));
        sslSocket->startServerEncryption();
    }

    readTimer.start(settings.readTimeout);
    currentRequest.reset();
}

void HttpConnectionHandler::readTimeout()
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): read timeout occured", static_cast<void *>(this));
    if (flush())
        socket->disconnectFromHost();
    currentRequest.reset();
}

void HttpConnectionHandler::read()
{
    if (lingering) {
        socket->readAll();
        return;
    }
    while (socket->bytesAvailable() > 0) {
        if (thread->isInterruptionRequested()) {
            socket->abort();
            return;
        }
        if (!currentRequest)
            currentRequest = std::make_unique<HttpRequest>(settings.requestLimits);

        while (socket->bytesAvailable() > 0 && currentRequest->parseState() != HttpRequest::Complete
                && currentRequest->parseState() != HttpRequest::Aborted) {
            currentRequest->receive(socket);
            // A long upload is limited by silence, not by its total duration.
            if (currentRequest->parseState() == HttpRequest::AwaitBody)
                readTimer.start(settings.readTimeout);
        }

        if (currentRequest->parseState() == HttpRequest::Aborted) {
            const char *answer = answerToAborted(currentRequest->abortReason());
            currentRequest.reset();
            answerAndLinger(answer);
            return;
        }
        if (currentRequest->parseState() == HttpRequest::Complete)
            serveRequest();
    }
}

void HttpConnectionHandler::serveRequest()
{
    readTimer.stop();
    qCDebug(httpLog, "HttpConnectionHandler (%p): received request", static_cast<void *>(this));

    HttpResponse response(socket);
    response.setWriteStallTimeout(settings.writeStallTimeout);

    bool closeConnection =
            currentRequest->header("Connection").compare("close", Qt::CaseInsensitive) == 0;
    if (!closeConnection)
        closeConnection = currentRequest->version().compare("HTTP/1.0", Qt::CaseInsensitive) == 0;
    if (closeConnection)
        response.setHeader("Connection", "close");

    const QScopedValueRollback<bool> servingGuard(serving, true);
    try {
        requestHandler->service(*currentRequest, response);
    } catch (...) {
        qCCritical(httpLog,
                "HttpConnectionHandler (%p): An uncatched exception occured in the request "
                "handler",
                static_cast<void *>(this));
    }

    if (!response.lastPartSent())
        response.write(QByteArray(), true);
    qCDebug(httpLog, "HttpConnectionHandler (%p): finished request", static_cast<void *>(this));

    if (!closeConnection) {
        const QMap<QByteArray, QByteArray> &headers = response.headerMap();
        // Without a length the body ends where the stream ends.
        const bool bodyEndsWithStream = !headers.contains("Content-Length")
                && headers.value("Transfer-Encoding").compare("chunked", Qt::CaseInsensitive) != 0;
        if (headers.value("Connection").compare("close", Qt::CaseInsensitive) == 0
                || bodyEndsWithStream)
            closeConnection = true;
    }

    // Flushed on kept-alive connections as well: a peer that sends requests without reading the
    // answers is then dropped after the stall limit instead of piling up output.
    if (flush()) {
        if (closeConnection)
            socket->disconnectFromHost();
        else if (socket->state() == QAbstractSocket::ConnectedState)
            readTimer.start(settings.readTimeout);
    }
    currentRequest.reset();
}

void HttpConnectionHandler::answerAndLinger(const QByteArray &answer)
{
    readTimer.stop();
    socket->write(answer);
    if (!flush() || socket->state() != QAbstractSocket::ConnectedState)
        return;
    // The client sees the end of the answer at once, while what it still sends is read and
    // dropped until it closes or lingerTime passes.
    lingering = true;
    HttpNativeSocket::shutdownSending(socket->socketDescriptor());
    socket->readAll();
    lingerTimer.start(lingerTime);
}

void HttpConnectionHandler::lingerTimeout()
{
    socket->abort();
}

bool HttpConnectionHandler::flush()
{
    while (pendingOutput() > 0) {
        if (!socket->waitForBytesWritten(settings.writeStallTimeout) && pendingOutput() > 0) {
            // A peer that is gone or does not read must not hold this thread; closing normally
            // would wait for the unsent bytes for ever.
            socket->abort();
            return false;
        }
    }
    return true;
}

qint64 HttpConnectionHandler::pendingOutput() const
{
    qint64 pending = socket->bytesToWrite();
    if (auto *sslSocket = qobject_cast<QSslSocket *>(socket))
        pending += sslSocket->encryptedBytesToWrite();
    return pending;
}

void HttpConnectionHandler::socketStateChanged(QAbstractSocket::SocketState state)
{
    if (state == QAbstractSocket::ConnectedState)
        return;
    QMutexLocker lock(&descriptorMutex);
    activeDescriptor = -1;
}

void HttpConnectionHandler::disconnected()
{
    qCDebug(httpLog, "HttpConnectionHandler (%p): disconnected", static_cast<void *>(this));
    socket->close();
    readTimer.stop();
    lingerTimer.stop();
    lingering = false;
    // A dropped upload must not keep its temporary files until the next connection; while a
    // request is being served the serving code still uses it and releases it itself.
    if (!serving)
        currentRequest.reset();
    connectionEnded();
}

void HttpConnectionHandler::connectionEnded()
{
    if (peerConnections) {
        peerConnections->release(countedPeer);
        countedPeer = QHostAddress();
    }
    busy.store(false, std::memory_order_release);
}

void HttpConnectionHandler::thread_done()
{
    readTimer.stop();
    lingerTimer.stop();
    // Unsent output is dropped: the server is going away.
    socket->abort();
    delete socket;
    socket = nullptr;
    qCDebug(httpLog, "HttpConnectionHandler (%p): thread stopped", static_cast<void *>(this));
}

} // namespace quenmar
