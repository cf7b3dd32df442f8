#include "httpnativesocket.h"
#include "httpresponse.h"
#include "httptestsupport.h"

#include <QTemporaryFile>
#include <QThread>
#include <QtTest>

using quenmar::HttpCookie;
using quenmar::HttpResponse;

class tst_HttpResponse : public QObject
{
    Q_OBJECT

private slots:
    void wireBytes_data();
    void wireBytes();
    void headerOrder();
    void cookies();
    void redirect();
    void fileBlocks_data();
    void fileBlocks();
    void stalledPeerIsAborted_data();
    void stalledPeerIsAborted();
    void closedPeerEndsWriting();
    void acknowledgedOnceDelivered();
    void unacknowledgedBytes_data();
    void unacknowledgedBytes();
};

namespace {

// Content of the file that fileBlocks() sends: 10000 bytes, no period of 256.
QByteArray fileContent()
{
    QByteArray content(10000, Qt::Uninitialized);
    for (int index = 0; index < content.size(); ++index)
        content[index] = char(index * 7 + index / 256);
    return content;
}

// What the peer does with a response for unacknowledgedBytes().
enum class Peer { ReadsEverything, StopsReading, Resets };

enum class Writes { LastPartAtOnce, ChunkedThenEmptyLast, CloseDelimited, EmptyLastPart };

} // namespace

Q_DECLARE_METATYPE(Peer)
Q_DECLARE_METATYPE(Writes)
Q_DECLARE_METATYPE(QList<qint64>)

void tst_HttpResponse::wireBytes_data()
{
    QTest::addColumn<Writes>("writes");
    QTest::addColumn<QByteArray>("connectionHeader");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray twenty(20, 'z');
    QTest::newRow("content-length")
            << Writes::LastPartAtOnce << QByteArray()
            << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    QTest::newRow("chunked") << Writes::ChunkedThenEmptyLast << QByteArray()
                             << "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n14\r\n"
                    + twenty + "\r\n0\r\n\r\n";
    QTest::newRow("close-delimited")
            << Writes::CloseDelimited << QByteArray("cLoSe")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: cLoSe\r\n\r\nabcdef");
    QTest::newRow("keep-alive-is-chunked")
            << Writes::CloseDelimited << QByteArray("keep-alive")
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nTransfer-Encoding: "
                          "chunked\r\n\r\n3\r\nabc\r\n3\r\ndef\r\n0\r\n\r\n");
    QTest::newRow("close-before-zero-byte")
            << Writes::CloseDelimited << QByteArray("close\0x", 7)
            << QByteArray("HTTP/1.1 200 OK\r\nConnection: close\0x\r\n\r\nabcdef", 46);
    QTest::newRow("empty-last-part") << Writes::EmptyLastPart << QByteArray()
                                     << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
}

void tst_HttpResponse::wireBytes()
{
    QFETCH(Writes, writes);
    QFETCH(QByteArray, connectionHeader);
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    if (!connectionHeader.isEmpty())
        response.setHeader("Connection", connectionHeader);

    switch (writes) {
    case Writes::LastPartAtOnce:
        response.write("hello", true);
        break;
    case Writes::ChunkedThenEmptyLast:
        response.write(QByteArray(20, 'z'));
        QVERIFY(!response.lastPartSent());
        response.write(QByteArray(), true);
        break;
    case Writes::CloseDelimited:
        response.write("abc");
        response.write("def", true);
        break;
    case Writes::EmptyLastPart:
        response.write(QByteArray(), true);
        break;
    }
    QVERIFY(response.lastPartSent());
    QTEST(pair.receiveUntilClosed(), "expected");
}

void tst_HttpResponse::headerOrder()
{
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    response.setStatus(404, "Not Found");
    response.setHeader("Server", "lwip");
    response.setHeader("x-lower", "1");
    response.setHeader("Content-Type", "text/plain");
    response.setHeader("Content-Length", 99);
    QCOMPARE(response.getStatusCode(), 404);
    QCOMPARE(response.headerMap().value("Content-Length"), QByteArray("99"));
    response.write("abcd", true);
    response.setHeader("Late", "never sent");
    response.setStatus(500, "late");
    QCOMPARE(pair.receiveUntilClosed(),
            QByteArray("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\nContent-Type: "
                       "text/plain\r\nServer: lwip\r\nx-lower: 1\r\n\r\nabcd"));
}

void tst_HttpResponse::cookies()
{
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    response.setCookie(HttpCookie("Path=/"));
    QVERIFY(response.cookieMap().isEmpty());
    response.setCookie(HttpCookie("zeta=1"));
    response.setCookie(HttpCookie("alpha=old"));
    response.setCookie(HttpCookie("alpha=new; Path=/"));
    QCOMPARE(response.cookieMap().size(), 2);
    response.write("", true);
    QCOMPARE(pair.receiveUntilClosed(),
            QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nSet-Cookie: alpha=new; Path=/; "
                       "Version=1\r\nSet-Cookie: zeta=1; Version=1\r\n\r\n"));
}

void tst_HttpResponse::redirect()
{
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    response.redirect("http://127.0.0.1/next");
    QVERIFY(response.lastPartSent());
    QCOMPARE(response.getStatusCode(), 303);
    QCOMPARE(pair.receiveUntilClosed(),
            QByteArray("HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: "
                       "http://127.0.0.1/next\r\n\r\nRedirect"));
}

void tst_HttpResponse::fileBlocks_data()
{
    QTest::addColumn<QByteArray>("connectionHeader");
    QTest::addColumn<QList<qint64>>("offsets");
    QTest::addColumn<QList<qint64>>("taken"); // expected results of writeFile, one per offset
    QTest::addColumn<QByteArray>("body");

    const QByteArray file = fileContent();
    // Sent from the file inside the kernel: the bytes arrive exactly, in order.
    QTest::newRow("close-delimited") << QByteArray("Close") << QList<qint64>{ 0, 4096, 8192 }
                                     << QList<qint64>{ 4096, 4096, 1808 } << file;
    QTest::newRow("past-the-end") << QByteArray("close") << QList<qint64>{ 8192, 10000 }
                                  << QList<qint64>{ 1808, 0 } << file.mid(8192);
    // Chunks need framing around the bytes: read and written as usual.
    QTest::newRow("chunked") << QByteArray() << QList<qint64>{ 4096 } << QList<qint64>{ 4096 }
                             << "1000\r\n" + file.mid(4096, 4096) + "\r\n0\r\n\r\n";
}

void tst_HttpResponse::fileBlocks()
{
    QFETCH(QByteArray, connectionHeader);
    QFETCH(QList<qint64>, offsets);
    QFETCH(QList<qint64>, taken);
    QFETCH(QByteArray, body);

    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray content = fileContent();
    QCOMPARE(file.write(content), qint64(content.size()));

    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    if (!connectionHeader.isEmpty())
        response.setHeader("Connection", connectionHeader);
    for (int index = 0; index < offsets.size(); ++index)
        QCOMPARE(response.writeFile(file, offsets.at(index), 4096), taken.at(index));
    response.write(QByteArray(), true);
    const QByteArray received = pair.receiveUntilClosed();
    QCOMPARE(received.mid(received.indexOf("\r\n\r\n") + 4), body);
}

void tst_HttpResponse::stalledPeerIsAborted_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::newRow("bytes") << false;
    QTest::newRow("file-blocks") << true;
}

void tst_HttpResponse::stalledPeerIsAborted()
{
    // The client never reads: once the kernel buffers are full, a write must give up after the
    // stall limit instead of blocking for ever.
    QFETCH(bool, fromFile);
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    QCOMPARE(response.writeStallTimeout(), HttpResponse::defaultWriteStallTimeout);
    response.setWriteStallTimeout(200);
    const QByteArray block(1 << 20, 'x');
    QTemporaryFile file;
    QVERIFY(file.open());
    QCOMPARE(file.write(block), qint64(block.size()));
    // 256 MiB is far beyond what loopback buffers can hold.
    constexpr int maxBlocks = 256;
    int blocks = 0;
    while (response.isConnected() && blocks < maxBlocks) {
        if (fromFile)
            response.writeFile(file, 0, block.size());
        else
            response.write(block);
        ++blocks;
    }
    QVERIFY2(!response.isConnected(), "the stalled connection was not aborted");
    QVERIFY(pair.serverSide->bytesToWrite() == 0);
    response.write(block, true);
    QVERIFY(response.lastPartSent());
    QCOMPARE(pair.serverSide->bytesToWrite(), qint64(0));
}

void tst_HttpResponse::closedPeerEndsWriting()
{
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    response.setWriteStallTimeout(2000);
    pair.client.abort();
    const QByteArray block(1 << 20, 'x');
    constexpr int maxBlocks = 64;
    int blocks = 0;
    while (response.isConnected() && blocks < maxBlocks) {
        response.write(block);
        ++blocks;
    }
    QVERIFY2(!response.isConnected(), "writing to a closed peer kept going");
}

// On every system, also where it cannot tell what the peer acknowledged.
void tst_HttpResponse::acknowledgedOnceDelivered()
{
    SocketPair pair;
    QVERIFY(pair.open());
    HttpResponse response(pair.serverSide);
    response.setWriteStallTimeout(2000);
    const QByteArray body(300000, 'b');
    response.write(body, true);
    QByteArray received;
    while (received.size() < body.size() && pair.client.waitForReadyRead(2000))
        received += pair.client.readAll();
    QVERIFY(received.endsWith(body));
    QVERIFY(response.waitUntilAcknowledged());
    QVERIFY(response.isConnected());
}

void tst_HttpResponse::unacknowledgedBytes_data()
{
    QTest::addColumn<Peer>("peer");
    QTest::newRow("readsEverything") << Peer::ReadsEverything;
    QTest::newRow("stopsReading") << Peer::StopsReading;
    QTest::newRow("resets") << Peer::Resets;
}

void tst_HttpResponse::unacknowledgedBytes()
{
    QFETCH(Peer, peer);
    SocketPair pair;
    QVERIFY(pair.open());
    const qintptr descriptor = pair.serverSide->socketDescriptor();
    if (quenmar::HttpNativeSocket::unacknowledgedBytes(descriptor)
            == quenmar::HttpNativeSocket::OutputQueueUnknown)
        QSKIP("the system cannot tell (Windows before 10 1703, wine): \"file sent\" then means "
              "handed to the system");
    const QByteArray block(1 << 16, 'u');
    if (peer == Peer::StopsReading) {
        // Until the system's buffers are full.
        for (int blocks = 0; blocks < 1024 && pair.serverSide->bytesToWrite() == 0; ++blocks) {
            pair.serverSide->write(block);
            pair.serverSide->waitForBytesWritten(100);
        }
        QVERIFY(pair.serverSide->bytesToWrite() > 0);
        QVERIFY(quenmar::HttpNativeSocket::unacknowledgedBytes(descriptor) > 0);
        return;
    }
    pair.serverSide->write(block);
    QVERIFY(pair.serverSide->waitForBytesWritten(2000));
    if (peer == Peer::Resets)
        pair.client.abort();
    qint64 received = 0;
    while (peer == Peer::ReadsEverything && received < block.size()
            && pair.client.waitForReadyRead(2000))
        received += pair.client.readAll().size();
    const qint64 expected =
            peer == Peer::Resets ? qint64(quenmar::HttpNativeSocket::OutputQueueFailed) : 0;
    // The acknowledgement, or the reset, arrives a moment later. No events meanwhile: the
    // socket object would close a reset connection's descriptor.
    qint64 queued = quenmar::HttpNativeSocket::unacknowledgedBytes(descriptor);
    for (int polls = 0; polls < 250 && queued != expected; ++polls) {
        QThread::msleep(20);
        queued = quenmar::HttpNativeSocket::unacknowledgedBytes(descriptor);
    }
    QCOMPARE(queued, expected);
}

QTEST_GUILESS_MAIN(tst_HttpResponse)
#include "tst_httpresponse.moc"
