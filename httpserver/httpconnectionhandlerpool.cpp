#include "httpconnectionhandlerpool.h"

#include "httpconnectionhandler.h"
#include "httpconnectionsettings.h"
#include "httplogging.h"
#include "httpnativesocket.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <algorithm>
#include <limits>

namespace quenmar {

HttpConnectionHandlerPool::HttpConnectionHandlerPool(QSettings *settings,
        HttpRequestHandler *requestHandler, std::shared_ptr<HttpPeerConnections> peerConnections)
    : settings(settings), requestHandler(requestHandler),
      peerConnections(std::move(peerConnections)), fairShare(HttpFairShare::fromSettings(*settings))
{
    loadTlsConfiguration();
    cleanupTimer.start(
            settings->value(QStringLiteral("cleanupInterval"), defaultCleanupInterval).toInt());
    connect(&cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
    if (fairShare.closesSlowConnections()) {
        clock.start();
        connect(&meterTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::sampleTransfers);
        meterTimer.start(int(qBound(qint64(1), fairShare.transferRateWindow / samplesPerWindow,
                qint64(std::numeric_limits<int>::max()))));
    }
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    // Every thread is asked to stop before the first one is joined, so shutting down takes as
    // long as the slowest handler, not the sum of all.
    for (HttpConnectionHandler *handler : qAsConst(pool))
        handler->stop();
    qDeleteAll(pool);
    pool.clear();
    delete sslConfiguration;
    qCDebug(httpLog, "HttpConnectionHandlerPool (%p): destroyed", static_cast<void *>(this));
}

HttpConnectionHandler *HttpConnectionHandlerPool::acquireHandler()
{
    QMutexLocker lock(&mutex);
    for (HttpConnectionHandler *handler : qAsConst(pool)) {
        if (!handler->isBusy()) {
            handler->setBusy();
            return handOut(handler);
        }
    }
    if (pool.count() >= maxThreads())
        return nullptr;
    // The handler gets its settings as a copy read here, on the settings object's thread.
    auto *handler = new HttpConnectionHandler(HttpConnectionSettings::fromSettings(*settings),
            requestHandler, sslConfiguration, peerConnections);
    handler->setBusy();
    pool.append(handler);
    return handOut(handler);
}

HttpConnectionHandler *HttpConnectionHandlerPool::handOut(HttpConnectionHandler *handler)
{
    if (meterTimer.isActive())
        meters.insert(handler, HttpTransferMeter(fairShare.transferRateWindow));
    return handler;
}

int HttpConnectionHandlerPool::maxThreads() const
{
    return settings->value(QStringLiteral("maxThreads"), defaultMaxThreads).toInt();
}

bool HttpConnectionHandlerPool::reclaimSlowConnection()
{
    if (!meterTimer.isActive())
        return false;
    const int limit = maxThreads();
    QMutexLocker lock(&mutex);
    const int busyCount = int(std::count_if(pool.cbegin(), pool.cend(),
            [](const HttpConnectionHandler *handler) { return handler->isBusy(); }));
    if (!HttpFairShare::isCrowded(busyCount, limit))
        return false;
    HttpConnectionHandler *slowest = nullptr;
    qint64 slowestRate = 0;
    for (HttpConnectionHandler *handler : qAsConst(pool)) {
        const qint64 rate = meters.value(handler).rate();
        if (handler->isBusy() && fairShare.isTooSlow(rate) && (!slowest || rate < slowestRate)) {
            slowest = handler;
            slowestRate = rate;
        }
    }
    if (!slowest)
        return false;
    slowest->cutConnection();
    meters[slowest].restart();
    qCDebug(httpLog, "HttpConnectionHandlerPool: closed a slow connection (%p), %lld bytes/s",
            static_cast<void *>(slowest), static_cast<long long>(slowestRate));
    return true;
}

void HttpConnectionHandlerPool::sampleTransfers()
{
    const qint64 now = clock.elapsed();
    // The list changes on this thread only; the lock is for readers on others, which must not
    // wait for the system calls below.
    const QList<HttpConnectionHandler *> handlers = [this] {
        QMutexLocker lock(&mutex);
        return pool;
    }();
    for (HttpConnectionHandler *handler : handlers) {
        if (!handler->isBusy())
            continue;
        const qint64 bytes = handler->transferredBytes();
        if (bytes == HttpNativeSocket::TransferredUnknown) {
            // No connection will ever have a rate here, so none is asked again.
            meterTimer.stop();
            meters.clear();
            qCDebug(httpLog,
                    "HttpConnectionHandlerPool: this system does not count the bytes of "
                    "a connection; slow connections are not closed");
            return;
        }
        if (bytes >= 0)
            meters[handler].record(now, bytes);
    }
}

int HttpConnectionHandlerPool::handlerCount() const
{
    QMutexLocker lock(&mutex);
    return pool.count();
}

int HttpConnectionHandlerPool::idleHandlerCount() const
{
    QMutexLocker lock(&mutex);
    return static_cast<int>(std::count_if(pool.cbegin(), pool.cend(),
            [](const HttpConnectionHandler *handler) { return !handler->isBusy(); }));
}

void HttpConnectionHandlerPool::cleanup()
{
    const int minThreads = settings->value(QStringLiteral("minThreads"), defaultMinThreads).toInt();
    QMutexLocker lock(&mutex);
    int idleCount = 0;
    for (int index = 0; index < pool.count(); ++index) {
        HttpConnectionHandler *handler = pool.at(index);
        if (handler->isBusy())
            continue;
        if (++idleCount > minThreads) {
            pool.removeAt(index);
            meters.remove(handler);
            delete handler;
            qCDebug(httpLog,
                    "HttpConnectionHandlerPool: Removed connection handler (%p), pool size is now "
                    "%i",
                    static_cast<void *>(handler), static_cast<int>(pool.count()));
            break;
        }
    }
}

void HttpConnectionHandlerPool::loadTlsConfiguration()
{
    QString keyFileName = settings->value(QStringLiteral("sslKeyFile")).toString();
    QString certFileName = settings->value(QStringLiteral("sslCertFile")).toString();
    if (keyFileName.isEmpty() || certFileName.isEmpty())
        return;

    // Relative names are meant relative to the settings file, not to the working directory.
    if (settings->format() != QSettings::NativeFormat) {
        const QDir settingsDir = QFileInfo(settings->fileName()).absoluteDir();
        if (QDir::isRelativePath(keyFileName))
            keyFileName = settingsDir.absoluteFilePath(keyFileName);
        if (QDir::isRelativePath(certFileName))
            certFileName = settingsDir.absoluteFilePath(certFileName);
    }

    QFile certFile(certFileName);
    if (!certFile.open(QIODevice::ReadOnly)) {
        qCCritical(httpLog, "HttpConnectionHandlerPool: cannot open sslCertFile %s",
                qPrintable(certFileName));
        return;
    }
    const QSslCertificate certificate(&certFile, QSsl::Pem);
    certFile.close();

    QFile keyFile(keyFileName);
    if (!keyFile.open(QIODevice::ReadOnly)) {
        qCCritical(httpLog, "HttpConnectionHandlerPool: cannot open sslKeyFile %s",
                qPrintable(keyFileName));
        return;
    }
    const QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    keyFile.close();

    sslConfiguration = new QSslConfiguration;
    sslConfiguration->setLocalCertificate(certificate);
    sslConfiguration->setPrivateKey(key);
    sslConfiguration->setPeerVerifyMode(QSslSocket::VerifyNone);
    // The obsolete SSL 3 / TLS 1.0 choice would expose clients to known attacks.
    sslConfiguration->setProtocol(QSsl::SecureProtocols);
    qCDebug(httpLog, "HttpConnectionHandlerPool: SSL settings loaded");
}

} // namespace quenmar
