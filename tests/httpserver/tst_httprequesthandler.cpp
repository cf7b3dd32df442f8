#include "httplistener.h"
#include "httprequesthandler.h"
#include "httpserverfixture.h"

#include <QtTest>

using quenmar::HttpListener;
using quenmar::HttpRequestHandler;

class tst_HttpRequestHandler : public QObject
{
    Q_OBJECT

private slots:
    void defaultServiceAnswers501_data();
    void defaultServiceAnswers501();
};

void tst_HttpRequestHandler::defaultServiceAnswers501_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("logged");

    QTest::newRow("get-percentDecodedPath") << QByteArray("GET /a%20b?x=1 HTTP/1.1\r\n\r\n")
                                            << "HttpRequestHandler: request=GET /a b HTTP/1.1";
    QTest::newRow("post-http10") << QByteArray("POST /up HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc")
                                 << "HttpRequestHandler: request=POST /up HTTP/1.0";
}

void tst_HttpRequestHandler::defaultServiceAnswers501()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, logged);
    MessageCapture log;
    TestSettings settings;
    const quint16 port = freePort();
    settings->setValue(QStringLiteral("QZHOST"), QStringLiteral("127.0.0.1"));
    settings->setValue(QStringLiteral("QZPORT"), port);
    HttpRequestHandler handler;
    HttpListener listener(settings.get(), &handler);

    TestClient client;
    QVERIFY(client.connectTo(port));
    // Twice on one connection where the request keeps it open: one critical line per request.
    const int requests = request.contains("HTTP/1.1") ? 2 : 1;
    for (int i = 0; i < requests; ++i) {
        client.send(request);
        TestResponse response;
        QVERIFY(client.readResponse(response));
        QCOMPARE(response.statusLine, QByteArray("HTTP/1.1 501 not implemented"));
        QCOMPARE(response.headers.value("Content-Length"), QByteArray("19"));
        QCOMPARE(response.body, QByteArray("501 not implemented"));
    }

    QVERIFY(spinUntil([&] { return log.messages(QtDebugMsg).count(logged) == requests; }));
    const QStringList critical = log.messages(QtCriticalMsg);
    QCOMPARE(critical.size(), requests);
    QCOMPARE(critical.count(QStringLiteral(
                     "HttpRequestHandler: you need to override the service() function")),
            requests);
}

QTEST_GUILESS_MAIN(tst_HttpRequestHandler)
#include "tst_httprequesthandler.moc"
