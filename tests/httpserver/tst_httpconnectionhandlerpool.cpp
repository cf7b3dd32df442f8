#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"
#include "httpserverfixture.h"

#include <QDir>
#include <QtTest>

using quenmar::HttpConnectionHandler;
using quenmar::HttpConnectionHandlerPool;
using quenmar::tSocketDescriptor;

namespace {

// Accepts loopback connections and keeps their descriptors for handing over by hand.
class ConnectionSource : public QTcpServer
{
public:
    QList<tSocketDescriptor> descriptors;

protected:
    void incomingConnection(qintptr socketDescriptor) override
    {
        descriptors.append(socketDescriptor);
    }
};

// A settings file with a cleanup timer that never fires by itself.
struct PoolFixture
{
    PoolFixture()
    {
        settings->setValue(QStringLiteral("cleanupInterval"), 3600000);
        source.listen(QHostAddress::LocalHost, 0);
    }

    // Serves one HTTP/1.0 request on the handler, which is idle again afterwards.
    bool serveOneConnection(HttpConnectionHandler *handler)
    {
        TestClient client;
        if (!client.connectTo(source.serverPort())
                || !spinUntil([this] { return !source.descriptors.isEmpty(); }))
            return false;
        QMetaObject::invokeMethod(handler, "handleConnection", Qt::QueuedConnection,
                Q_ARG(tSocketDescriptor, source.descriptors.takeFirst()));
        client.send("GET /len HTTP/1.0\r\n\r\n");
        TestResponse response;
        return client.readResponse(response) && response.body == "hello"
                && spinUntil([handler] { return !handler->isBusy(); });
    }

    MessageCapture log;
    TestSettings settings;
    TestRequestHandler requestHandler;
    ConnectionSource source;
};

QString removalMessage(const HttpConnectionHandler *handler, int size)
{
    return QString::asprintf(
            "HttpConnectionHandlerPool: Removed connection handler (%p), pool size is now %i",
            static_cast<const void *>(handler), size);
}

} // namespace

class tst_HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT

private slots:
    void acquireReusesFirstIdleAndGrowsToMaxThreads();
    void maxThreadsIsReadAtEachAcquireWithoutIdleHandler_data();
    void maxThreadsIsReadAtEachAcquireWithoutIdleHandler();
    void cleanupRemovesOneSurplusIdleHandlerPerTick_data();
    void cleanupRemovesOneSurplusIdleHandlerPerTick();
    void cleanupTimerTrimsAtItsInterval();
    void tlsFilesThatCannotBeOpened_data();
    void tlsFilesThatCannotBeOpened();
    void destructorStopsEveryHandler();
};

void tst_HttpConnectionHandlerPool::acquireReusesFirstIdleAndGrowsToMaxThreads()
{
    PoolFixture fixture;
    fixture.settings->setValue(QStringLiteral("maxThreads"), 3);
    HttpConnectionHandlerPool pool(fixture.settings.get(), &fixture.requestHandler);

    HttpConnectionHandler *first = pool.acquireHandler();
    HttpConnectionHandler *second = pool.acquireHandler();
    HttpConnectionHandler *third = pool.acquireHandler();
    QVERIFY(first && second && third);
    QVERIFY(first != second && second != third && first != third);
    QVERIFY(first->isBusy() && second->isBusy() && third->isBusy());
    QCOMPARE(pool.acquireHandler(), nullptr);
    QCOMPARE(pool.handlerCount(), 3);

    QVERIFY(fixture.serveOneConnection(second));
    QCOMPARE(pool.idleHandlerCount(), 1);
    QCOMPARE(pool.acquireHandler(), second);
    QVERIFY(second->isBusy());

    QVERIFY(fixture.serveOneConnection(third));
    QVERIFY(fixture.serveOneConnection(first));
    QCOMPARE(pool.acquireHandler(), first);
    QCOMPARE(pool.acquireHandler(), third);
    QCOMPARE(pool.acquireHandler(), nullptr);
    QCOMPARE(pool.handlerCount(), 3);
}

void tst_HttpConnectionHandlerPool::maxThreadsIsReadAtEachAcquireWithoutIdleHandler_data()
{
    QTest::addColumn<QVariant>("maxThreads");
    QTest::addColumn<int>("handlers");

    QTest::newRow("zero") << QVariant(0) << 0;
    QTest::newRow("notANumber") << QVariant("many") << 0;
    QTest::newRow("one") << QVariant(1) << 1;
    QTest::newRow("four") << QVariant(4) << 4;
    QTest::newRow("absent-defaultIs100") << QVariant() << 100;
}

void tst_HttpConnectionHandlerPool::maxThreadsIsReadAtEachAcquireWithoutIdleHandler()
{
    QFETCH(QVariant, maxThreads);
    QFETCH(int, handlers);
    PoolFixture fixture;
    if (maxThreads.isValid())
        fixture.settings->setValue(QStringLiteral("maxThreads"), maxThreads);
    HttpConnectionHandlerPool pool(fixture.settings.get(), &fixture.requestHandler);

    for (int i = 0; i < handlers; ++i)
        QVERIFY(pool.acquireHandler());
    QCOMPARE(pool.acquireHandler(), nullptr);
    QCOMPARE(pool.handlerCount(), handlers);

    // A raised limit counts from the next acquire on.
    fixture.settings->setValue(QStringLiteral("maxThreads"), handlers + 1);
    QVERIFY(pool.acquireHandler());
    QCOMPARE(pool.acquireHandler(), nullptr);
    QCOMPARE(pool.handlerCount(), handlers + 1);
}

void tst_HttpConnectionHandlerPool::cleanupRemovesOneSurplusIdleHandlerPerTick_data()
{
    QTest::addColumn<int>("minThreads");
    QTest::addColumn<QList<int>>("busy");
    QTest::addColumn<QList<int>>("removedPerTick");

    // Handlers 0, 1, 2 in creation order; -1: the tick removes nothing.
    QTest::newRow("minThreads1-allIdle") << 1 << QList<int>() << QList<int>{ 1, 2, -1 };
    QTest::newRow("minThreads0-allIdle") << 0 << QList<int>() << QList<int>{ 0, 1, 2, -1 };
    QTest::newRow("minThreads2-allIdle") << 2 << QList<int>() << QList<int>{ 2, -1 };
    QTest::newRow("minThreads3-allIdle") << 3 << QList<int>() << QList<int>{ -1 };
    QTest::newRow("minThreads1-firstBusy") << 1 << QList<int>{ 0 } << QList<int>{ 2, -1 };
    QTest::newRow("minThreads0-middleBusy") << 0 << QList<int>{ 1 } << QList<int>{ 0, 2, -1 };
    QTest::newRow("minThreads0-allBusy") << 0 << QList<int>{ 0, 1, 2 } << QList<int>{ -1 };
}

void tst_HttpConnectionHandlerPool::cleanupRemovesOneSurplusIdleHandlerPerTick()
{
    QFETCH(int, minThreads);
    QFETCH(QList<int>, busy);
    QFETCH(QList<int>, removedPerTick);
    PoolFixture fixture;
    fixture.settings->setValue(QStringLiteral("minThreads"), minThreads);
    HttpConnectionHandlerPool pool(fixture.settings.get(), &fixture.requestHandler);
    QList<HttpConnectionHandler *> handlers;
    for (int i = 0; i < 3; ++i)
        handlers.append(pool.acquireHandler());
    for (int i = 0; i < 3; ++i) {
        if (!busy.contains(i))
            QVERIFY(fixture.serveOneConnection(handlers.at(i)));
    }

    int size = 3;
    for (int removed : removedPerTick) {
        fixture.log.clear();
        pool.cleanup();
        const QStringList messages =
                fixture.log.matching(QtDebugMsg, QStringLiteral("HttpConnectionHandlerPool: "));
        if (removed < 0) {
            QVERIFY(messages.isEmpty());
        } else {
            QCOMPARE(messages, QStringList{ removalMessage(handlers.at(removed), --size) });
        }
        QCOMPARE(pool.handlerCount(), size);
    }
    // Busy handlers are still served by acquire only when they are free again.
    QCOMPARE(pool.idleHandlerCount(), size - busy.size());
}

void tst_HttpConnectionHandlerPool::cleanupTimerTrimsAtItsInterval()
{
    PoolFixture fixture;
    fixture.settings->setValue(QStringLiteral("cleanupInterval"), 50);
    // None is trimmed while the test still watches them serve: a trimmed
    // handler is deleted.
    fixture.settings->setValue(QStringLiteral("minThreads"), 4);
    HttpConnectionHandlerPool pool(fixture.settings.get(), &fixture.requestHandler);
    QList<HttpConnectionHandler *> handlers;
    for (int i = 0; i < 4; ++i)
        handlers.append(pool.acquireHandler());
    for (HttpConnectionHandler *handler : handlers)
        QVERIFY(fixture.serveOneConnection(handler));
    fixture.settings->setValue(QStringLiteral("minThreads"), 2);
    QVERIFY(spinUntil([&] { return pool.handlerCount() == 2; }));

    // "minThreads" is read again at every tick.
    fixture.settings->setValue(QStringLiteral("minThreads"), 0);
    QVERIFY(spinUntil([&] { return pool.handlerCount() == 0; }));
}

void tst_HttpConnectionHandlerPool::tlsFilesThatCannotBeOpened_data()
{
    QTest::addColumn<QString>("keyFile");
    QTest::addColumn<QString>("certFile");
    QTest::addColumn<QString>("expectedMessage");

    // Names relative to the settings file's folder; key.pem and cert.pem exist there.
    QTest::newRow("certMissing") << "key.pem"
                                 << "missing-cert.pem"
                                 << "cannot open sslCertFile %1/missing-cert.pem";
    QTest::newRow("keyMissing") << "missing-key.pem"
                                << "cert.pem"
                                << "cannot open sslKeyFile %1/missing-key.pem";
    QTest::newRow("certMissingInSubfolder") << "key.pem"
                                            << "tls/cert.pem"
                                            << "cannot open sslCertFile %1/tls/cert.pem";
    QTest::newRow("onlyKeySet") << "key.pem" << QString() << QString();
    QTest::newRow("onlyCertSet") << QString() << "cert.pem" << QString();
    QTest::newRow("bothPresent") << "key.pem"
                                 << "cert.pem"
                                 << "SSL settings loaded";
}

void tst_HttpConnectionHandlerPool::tlsFilesThatCannotBeOpened()
{
    QFETCH(QString, keyFile);
    QFETCH(QString, certFile);
    QFETCH(QString, expectedMessage);
    PoolFixture fixture;
    QVERIFY(makeCertificate(fixture.settings.folder()));
    if (!keyFile.isEmpty())
        fixture.settings->setValue(QStringLiteral("sslKeyFile"), keyFile);
    if (!certFile.isEmpty())
        fixture.settings->setValue(QStringLiteral("sslCertFile"), certFile);
    // Relative names must not depend on the working directory.
    const QString previousDirectory = QDir::currentPath();
    QDir::setCurrent(QDir::rootPath());
    {
        HttpConnectionHandlerPool pool(fixture.settings.get(), &fixture.requestHandler);
    }
    QDir::setCurrent(previousDirectory);

    const QString folder = QDir(fixture.settings.folder()).absolutePath();
    const QStringList critical = fixture.log.messages(QtCriticalMsg);
    const QStringList loaded = fixture.log.messages(QtDebugMsg).filter("SSL settings loaded");
    if (expectedMessage.isEmpty()) {
        QVERIFY(critical.isEmpty());
        QVERIFY(loaded.isEmpty());
    } else if (expectedMessage.startsWith("SSL")) {
        QVERIFY(critical.isEmpty());
        QCOMPARE(loaded, QStringList{ "HttpConnectionHandlerPool: SSL settings loaded" });
    } else {
        QCOMPARE(critical,
                QStringList{ "HttpConnectionHandlerPool: " + expectedMessage.arg(folder) });
        QVERIFY(loaded.isEmpty());
    }
}

void tst_HttpConnectionHandlerPool::destructorStopsEveryHandler()
{
    PoolFixture fixture;
    auto pool = std::make_unique<HttpConnectionHandlerPool>(
            fixture.settings.get(), &fixture.requestHandler);
    const void *address = pool.get();
    QList<HttpConnectionHandler *> handlers;
    for (int i = 0; i < 3; ++i)
        handlers.append(pool->acquireHandler());
    QVERIFY(fixture.serveOneConnection(handlers.first()));
    pool.reset();

    const QStringList messages = fixture.log.messages(QtDebugMsg);
    for (const HttpConnectionHandler *handler : handlers) {
        const void *pointer = handler;
        QVERIFY(messages.contains(
                QString::asprintf("HttpConnectionHandler (%p): thread stopped", pointer)));
        QVERIFY(messages.contains(
                QString::asprintf("HttpConnectionHandler (%p): destroyed", pointer)));
    }
    QCOMPARE(messages.last(),
            QString::asprintf("HttpConnectionHandlerPool (%p): destroyed", address));
}

QTEST_GUILESS_MAIN(tst_HttpConnectionHandlerPool)
#include "tst_httpconnectionhandlerpool.moc"
