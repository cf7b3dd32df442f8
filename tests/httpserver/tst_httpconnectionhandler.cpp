#include "handoverserver.h"
#include "httpconnectionhandler.h"
#include "httpserverfixture.h"

#include <QElapsedTimer>
#include <QtTest>

using quenmar::HttpConnectionHandler;
using quenmar::HttpConnectionSettings;
using quenmar::tSocketDescriptor;

namespace {

// One handler behind a loopback server.
struct Harness
{
    explicit Harness(const HttpConnectionSettings &settings)
        : handler(std::make_unique<HttpConnectionHandler>(settings, &requestHandler))
    {
        server.handler = handler.get();
        server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return server.serverPort(); }
    bool waitIdle()
    {
        return spinUntil([this] { return !handler->isBusy(); });
    }

    TestRequestHandler requestHandler;
    std::unique_ptr<HttpConnectionHandler> handler;
    HandOverServer server;
};

HttpConnectionSettings quickSettings()
{
    HttpConnectionSettings settings;
    settings.readTimeout = 5000;
    settings.requestLimits.maxRequestSize = 1000;
    return settings;
}

} // namespace

class tst_HttpConnectionHandler : public QObject
{
    Q_OBJECT

private slots:
    void connectionRules_data();
    void connectionRules();
    void pipelinedRequestsAnsweredInOrder();
    void fixedAnswerToOversizedRequest_data();
    void fixedAnswerToOversizedRequest();
    void ambiguousLengthIsRefused_data();
    void ambiguousLengthIsRefused();
    void silentClientClosedAfterReadTimeout_data();
    void silentClientClosedAfterReadTimeout();
    void slowBodyIsNotTimedOut();
    void droppedUploadLeavesNoTemporaryFiles();
    void peerThatNeverReadsIsFreed_data();
    void peerThatNeverReadsIsFreed();
    void unusableDescriptorFreesHandler();
    void destroyingCutsATransferToAStalledPeer();
    void logLinesOfOneConnection();
};

void tst_HttpConnectionHandler::connectionRules_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("answersConnectionClose");
    QTest::addColumn<bool>("keptOpen");

    QTest::newRow("http11-contentLength-keptOpen")
            << QByteArray("GET /len HTTP/1.1\r\n\r\n") << QByteArray("hello") << false << true;
    QTest::newRow("http11-chunked-keptOpen")
            << QByteArray("GET /chunked HTTP/1.1\r\n\r\n") << QByteArray("abcd") << false << true;
    QTest::newRow("requestConnectionClose-lowerCase")
            << QByteArray("GET /len HTTP/1.1\r\nconnection: close\r\n\r\n") << QByteArray("hello")
            << true << false;
    QTest::newRow("requestConnectionClose-mixedCase")
            << QByteArray("GET /len HTTP/1.1\r\nCONNECTION: ClOsE\r\n\r\n") << QByteArray("hello")
            << true << false;
    QTest::newRow("http10") << QByteArray("GET /len HTTP/1.0\r\n\r\n") << QByteArray("hello")
                            << true << false;
    QTest::newRow("http10-keepAliveHeader")
            << QByteArray("GET /len HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
            << QByteArray("hello") << true << false;
    QTest::newRow("responseConnectionClose-capitalised")
            << QByteArray("GET /closeheader HTTP/1.1\r\n\r\n") << QByteArray("x") << false << false;
    QTest::newRow("responseWithoutLength") << QByteArray("GET /nolength HTTP/1.1\r\n\r\n")
                                           << QByteArray("unframed") << false << false;
}

void tst_HttpConnectionHandler::connectionRules()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    QFETCH(bool, answersConnectionClose);
    QFETCH(bool, keptOpen);
    MessageCapture log;
    Harness harness(quickSettings());
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));

    client.send(request);
    TestResponse response;
    QVERIFY(client.readResponse(response));
    QCOMPARE(response.status, 200);
    QCOMPARE(response.body, body);
    QCOMPARE(response.headers.value("Connection") == "close", answersConnectionClose);

    if (!keptOpen) {
        QVERIFY(client.waitClosed());
        QVERIFY(harness.waitIdle());
        return;
    }
    // Still open: the next request on it is served by the same handler thread.
    QTest::qWait(100);
    QVERIFY(client.isConnected());
    QVERIFY(harness.handler->isBusy());
    client.send("GET /len HTTP/1.1\r\n\r\n");
    TestResponse second;
    QVERIFY(client.readResponse(second));
    QCOMPARE(second.body, QByteArray("hello"));
    QCOMPARE(second.headers.value("X-Thread"), response.headers.value("X-Thread"));
    QCOMPARE(harness.requestHandler.served.loadAcquire(), 2);
}

void tst_HttpConnectionHandler::pipelinedRequestsAnsweredInOrder()
{
    MessageCapture log;
    Harness harness(quickSettings());
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));

    client.send("GET /big?size=3 HTTP/1.1\r\n\r\nGET /chunked HTTP/1.1\r\n\r\n"
                "GET /len HTTP/1.1\r\n\r\nGET /big?size=7 HTTP/1.1\r\nConnection: close\r\n\r\n");
    const QList<QByteArray> expected{ "bbb", "abcd", "hello", "bbbbbbb" };
    for (const QByteArray &body : expected) {
        TestResponse response;
        QVERIFY(client.readResponse(response));
        QCOMPARE(response.body, body);
    }
    QVERIFY(client.waitClosed());
}

void tst_HttpConnectionHandler::fixedAnswerToOversizedRequest_data()
{
    QTest::addColumn<QByteArray>("request");

    // The limit is 1000 bytes; every request is sent whole before the client reads, and more
    // than the limit stays unread on the server side.
    QTest::newRow("requestLine-overLimit")
            << "GET /" + QByteArray(20000, 'a') + " HTTP/1.1\r\n\r\n";
    QTest::newRow("headers-overLimit") << "GET / HTTP/1.1\r\n"
                    + QByteArray("X-Filler: 0123456789\r\n").repeated(1000) + "\r\n";
    QTest::newRow("declaredBody-overLimit")
            << "POST / HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + QByteArray(20000, 'p');
    QTest::newRow("brokenRequestLine") << "GET /index\r\n" + QByteArray(20000, 'z');
}

void tst_HttpConnectionHandler::fixedAnswerToOversizedRequest()
{
    QFETCH(QByteArray, request);
    MessageCapture log;
    Harness harness(quickSettings());
    RawClient client;
    QVERIFY(client.connectTo(harness.port()));
    QVERIFY(client.send(request) > 1000);
    // Let the server answer while nothing is read, as a device would that is still sending.
    QTest::qWait(200);

    QByteArray received;
    QVERIFY2(client.readUntilClosed(received), "the answer must end cleanly, not by a reset");
    QCOMPARE(received, QByteArray(HttpConnectionHandler::entityTooLargeAnswer));
    QVERIFY(harness.waitIdle());
    QCOMPARE(harness.requestHandler.served.loadAcquire(), 0);
}

void tst_HttpConnectionHandler::ambiguousLengthIsRefused_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("differingContentLength")
            << QByteArray("Content-Length: 23\r\nContent-Length: 0\r\n")
            << QByteArray(HttpConnectionHandler::badRequestAnswer);
    QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n")
                             << QByteArray(HttpConnectionHandler::notImplementedAnswer);
    QTest::newRow("spaceBeforeColon") << QByteArray("Content-Length : 19\r\n")
                                      << QByteArray(HttpConnectionHandler::badRequestAnswer);
    QTest::newRow("hexadecimalLength") << QByteArray("Content-Length: 0x13\r\n")
                                       << QByteArray(HttpConnectionHandler::badRequestAnswer);
    QTest::newRow("obsFold") << QByteArray("X-A: 1\r\n Content-Length: 19\r\n")
                             << QByteArray(HttpConnectionHandler::badRequestAnswer);
}

void tst_HttpConnectionHandler::ambiguousLengthIsRefused()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, answer);
    MessageCapture log;
    Harness harness(quickSettings());
    RawClient client;
    QVERIFY(client.connectTo(harness.port()));
    // The body is a second request to any reader that takes another length.
    QVERIFY(client.send("POST /len HTTP/1.1\r\n" + headers + "\r\nGET /len HTTP/1.1\r\n\r\n") > 0);

    QByteArray received;
    QVERIFY2(client.readUntilClosed(received), "the answer must end cleanly, not by a reset");
    QCOMPARE(received, answer);
    QVERIFY(harness.waitIdle());
    QCOMPARE(harness.requestHandler.served.loadAcquire(), 0);
}

void tst_HttpConnectionHandler::silentClientClosedAfterReadTimeout_data()
{
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("partialRequest") << QByteArray("GET /len HTTP/1.1\r\nHost: a");
    QTest::newRow("afterKeptAliveResponse") << QByteArray("GET /len HTTP/1.1\r\n\r\n");
}

void tst_HttpConnectionHandler::silentClientClosedAfterReadTimeout()
{
    QFETCH(QByteArray, sent);
    MessageCapture log;
    HttpConnectionSettings settings = quickSettings();
    settings.readTimeout = 300;
    Harness harness(settings);
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));
    client.send(sent);

    QByteArray received;
    QVERIFY(client.readUntilClosed(received));
    // Only a complete request is answered; the timeout itself sends nothing.
    QCOMPARE(received.startsWith("HTTP/1.1 200 OK"), sent.endsWith("\r\n\r\n"));
    QVERIFY(received.endsWith(sent.endsWith("\r\n\r\n") ? "hello" : ""));
    QVERIFY(harness.waitIdle());
    QCOMPARE(log.matching(QtDebugMsg, QStringLiteral("HttpConnectionHandler"))
                     .filter("read timeout occured")
                     .size(),
            1);
}

void tst_HttpConnectionHandler::slowBodyIsNotTimedOut()
{
    MessageCapture log;
    HttpConnectionSettings settings = quickSettings();
    settings.readTimeout = 1000;
    Harness harness(settings);
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));

    // Ten pauses of 150 ms: longer than the read timeout in total, never silent for that long.
    client.send("POST /len HTTP/1.1\r\nContent-Length: 11\r\n\r\n0");
    for (char digit = '0'; digit <= '9'; ++digit) {
        QTest::qWait(150);
        QVERIFY(client.isConnected());
        client.send(QByteArray(1, digit));
    }
    TestResponse response;
    QVERIFY(client.readResponse(response));
    QCOMPARE(response.body, QByteArray("hello"));
}

void tst_HttpConnectionHandler::droppedUploadLeavesNoTemporaryFiles()
{
    QTemporaryDir temporaryFolder;
    QVERIFY(temporaryFolder.isValid());
    const QByteArray previousTemporaryPath = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(temporaryFolder.path()));
    const auto restore = qScopeGuard([&] { qputenv("TMPDIR", previousTemporaryPath); });
    const QDir folder(temporaryFolder.path());

    Harness harness(quickSettings());
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));
    client.send("POST /upload HTTP/1.1\r\n"
                "Content-Type: multipart/form-data; boundary=XyZ\r\n"
                "Content-Length: 5000\r\n\r\n"
                "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a\"\r\n\r\n"
            + QByteArray(300, 'x'));
    QVERIFY(spinUntil([&] { return !folder.entryList(QDir::Files).isEmpty(); }));

    client.abort();
    QVERIFY(harness.waitIdle());
    QVERIFY2(spinUntil([&] { return folder.entryList(QDir::Files).isEmpty(); }),
            qPrintable(folder.entryList(QDir::Files).join(' ')));
}

void tst_HttpConnectionHandler::peerThatNeverReadsIsFreed_data()
{
    QTest::addColumn<QByteArray>("requests");
    QTest::addColumn<int>("answerBytes");

    QTest::newRow("oneLargeAnswer")
            << QByteArray("GET /big?size=8000000 HTTP/1.1\r\n\r\n") << 8000000;
    QTest::newRow("pipelinedAnswers")
            << QByteArray("GET /big?size=300000 HTTP/1.1\r\n\r\n").repeated(40) << 40 * 300000;
    QTest::newRow("largeAnswerThenClose")
            << QByteArray("GET /big?size=8000000 HTTP/1.1\r\nConnection: close\r\n\r\n") << 8000000;
}

void tst_HttpConnectionHandler::peerThatNeverReadsIsFreed()
{
    QFETCH(QByteArray, requests);
    QFETCH(int, answerBytes);
    MessageCapture log;
    HttpConnectionSettings settings = quickSettings();
    settings.writeStallTimeout = 300;
    Harness harness(settings);
    RawClient client;
    QVERIFY(client.connectTo(harness.port(), 4096));
    QCOMPARE(client.send(requests), qint64(requests.size()));

    QVERIFY(spinUntil([&] { return harness.requestHandler.served.loadAcquire() > 0; }));
    // Freed by the stall limit while the client reads nothing, not by the read timeout.
    QVERIFY(harness.waitIdle());
    QVERIFY(log.messages(QtDebugMsg).filter("read timeout occured").isEmpty());
    // What the system had already queued may still arrive; the rest was dropped.
    QByteArray received;
    client.readUntilClosed(received);
    QVERIFY(client.peerClosed());
    QVERIFY(received.size() < answerBytes);
}

void tst_HttpConnectionHandler::unusableDescriptorFreesHandler()
{
    MessageCapture log;
    Harness harness(quickSettings());
    // Far above the descriptor limit, so it can never name an open file.
    const tSocketDescriptor invalidDescriptor = 1 << 30;

    harness.handler->setBusy();
    QMetaObject::invokeMethod(harness.handler.get(), "handleConnection", Qt::QueuedConnection,
            Q_ARG(tSocketDescriptor, invalidDescriptor));
    QVERIFY(harness.waitIdle());

    const QString prefix =
            QString::asprintf("HttpConnectionHandler (%p): cannot initialize socket: ",
                    static_cast<void *>(harness.handler.get()));
    QCOMPARE(log.matching(QtCriticalMsg, prefix).size(), 1);

    // The handler still serves the next connection.
    TestClient client;
    QVERIFY(client.connectTo(harness.port()));
    client.send("GET /len HTTP/1.1\r\n\r\n");
    TestResponse response;
    QVERIFY(client.readResponse(response));
    QCOMPARE(response.body, QByteArray("hello"));
}

void tst_HttpConnectionHandler::destroyingCutsATransferToAStalledPeer()
{
    MessageCapture log;
    // The default stall limit of 30 s: only the stop itself can end the transfer quickly.
    Harness harness(HttpConnectionSettings{});
    RawClient client;
    QVERIFY(client.connectTo(harness.port(), 4096));
    client.send("GET /endless HTTP/1.1\r\n\r\n");
    QVERIFY(spinUntil([&] { return harness.requestHandler.served.loadAcquire() == 1; }));
    QTest::qWait(300);

    QElapsedTimer clock;
    clock.start();
    harness.handler.reset();
    QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(harness.requestHandler.interrupted.loadAcquire(), 1);
}

void tst_HttpConnectionHandler::logLinesOfOneConnection()
{
    MessageCapture log;
    auto harness = std::make_unique<Harness>(quickSettings());
    const void *handler = harness->handler.get();
    TestClient client;
    QVERIFY(client.connectTo(harness->port()));
    client.send("GET /len HTTP/1.0\r\n\r\n");
    TestResponse response;
    QVERIFY(client.readResponse(response));
    QVERIFY(harness->waitIdle());
    harness.reset();

    QStringList expected;
    for (const char *event :
            { "thread started", "constructed", "handle new connection", "received request",
                    "finished request", "disconnected", "thread stopped", "destroyed" })
        expected << QString::asprintf("HttpConnectionHandler (%p): %s", handler, event);
    QCOMPARE(log.matching(QtDebugMsg, QStringLiteral("HttpConnectionHandler (")), expected);
    QVERIFY(log.messages(QtCriticalMsg).isEmpty());
    QVERIFY(log.messages(QtWarningMsg).isEmpty());
}

QTEST_GUILESS_MAIN(tst_HttpConnectionHandler)
#include "tst_httpconnectionhandler.moc"
