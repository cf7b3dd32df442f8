#include "httprequest.h"
#include "httptestsupport.h"

#include <QtTest>

using quenmar::HttpRequest;
using quenmar::HttpRequestLimits;

class tst_HttpRequest : public QObject
{
    Q_OBJECT

private slots:
    void feedingDoesNotMatter_data();
    void feedingDoesNotMatter();
    void requestLine_data();
    void requestLine();
    void headers();
    void parameters_data();
    void parameters();
    void cookies();
    void limits_data();
    void limits();
    void contentLength_data();
    void contentLength();
    void oneLengthPerRequest_data();
    void oneLengthPerRequest();
    void settingsLimits();
    void malformedHeaderLines_data();
    void malformedHeaderLines();
    void foldedHeaderStopsAtFirstFold();
    void percentDecode_data();
    void percentDecode();
    void fromSocket();
};

namespace {

// Everything a request exposes, in one comparable text.
QByteArray describe(HttpRequest &request)
{
    QByteArray text = QByteArray::number(request.parseState()) + '|'
            + QByteArray::number(request.abortReason()) + '|' + request.method() + '|'
            + request.rawPath() + '|' + request.version() + '|';
    const QMultiMap<QByteArray, QByteArray> headers = request.headerMap();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        text += it.key() + '=' + it.value() + ';';
    text += '|';
    const QMultiMap<QByteArray, QByteArray> parameters = request.parameterMap();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it)
        text += it.key() + '=' + it.value() + ';';
    text += '|';
    const QMap<QByteArray, QByteArray> &cookies = request.cookieMap();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        text += it.key() + '=' + it.value() + ';';
    return text + '|' + request.body();
}

struct Outcome
{
    QByteArray description;
    QStringList warnings;
    int unread = 0;
};

Outcome feed(const QList<QByteArray> &pieces, const HttpRequestLimits &limits = {})
{
    MessageCapture capture;
    HttpRequest request(limits);
    Outcome outcome;
    outcome.unread = feedPieces(request, pieces);
    outcome.description = describe(request);
    outcome.warnings = capture.problems();
    return outcome;
}

bool isFinished(HttpRequest::ParseState state)
{
    return state == HttpRequest::Complete || state == HttpRequest::Aborted;
}

} // namespace

void tst_HttpRequest::feedingDoesNotMatter_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("maxRequestSize");

    QTest::newRow("example") << QByteArray("GET /a%20b?x=1&y=%41+B HTTP/1.1\r\n\r\n") << 16000;
    QTest::newRow("blank-lines-first")
            << QByteArray("\r\n\n\r\nGET / HTTP/1.0\r\nHost: h\r\n\r\n") << 16000;
    QTest::newRow("folded-twice") << QByteArray(
            "GET / HTTP/1.1\r\nX-A: 1\r\n two\r\n\tthree\r\n\r\n")
                                  << 16000;
    QTest::newRow("post-form") << QByteArray(
            "POST /f?a=1 HTTP/1.1\r\nContent-Length: 7\r\n\r\nb=2&c=3")
                               << 16000;
    QTest::newRow("cookies") << QByteArray("GET / HTTP/1.1\r\nCookie: a=1; b=\"x;y\"\r\n\r\n")
                             << 16000;
    QTest::newRow("pipelined") << QByteArray("GET /1 HTTP/1.1\r\n\r\nGET /2 HTTP/1.1\r\n\r\n")
                               << 16000;
    QTest::newRow("lf-only") << QByteArray("GET / HTTP/1.1\nA: b\n\n") << 16000;
    QTest::newRow("broken-first-line") << QByteArray("GET /index\r\nA: b\r\n\r\n") << 16000;
    QTest::newRow("request-line-too-long") << "GET /" + QByteArray(100, 'a') + " HTTP/1.1\r\n\r\n"
                                           << 64;
    QTest::newRow("headers-at-limit") << "GET / HTTP/1.1\r\nX: " + QByteArray(75, 'a') + "\r\n\r\n"
                                      << 100;
    QTest::newRow("headers-over-limit") << "GET / HTTP/1.1\r\nX: " + QByteArray(76, 'a')
                    + "\r\n\r\n" << 100;
    QTest::newRow("body-at-limit")
            << "PUT / HTTP/1.1\r\nContent-Length: 61\r\n\r\n" + QByteArray(61, 'b') << 100;
    QTest::newRow("body-over-limit")
            << "PUT / HTTP/1.1\r\nContent-Length: 62\r\n\r\n" + QByteArray(62, 'b') << 100;
    QTest::newRow("content-length-repeated")
            << QByteArray("PUT / HTTP/1.1\r\nContent-Length: 2\r\nContent-Length: 2\r\n\r\nab")
            << 16000;
    QTest::newRow("content-length-differing") << QByteArray(
            "PUT / HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 0\r\n\r\n"
            "GET /x HTTP/1.1\r\n\r\n") << 16000;
    QTest::newRow("space-before-colon")
            << QByteArray("PUT / HTTP/1.1\r\nContent-Length : 19\r\n\r\nGET /x HTTP/1.1\r\n\r\n")
            << 16000;
    QTest::newRow("hex-length") << QByteArray(
            "PUT / HTTP/1.1\r\nContent-Length: 0x13\r\n\r\nGET /x HTTP/1.1\r\n\r\n")
                                << 16000;
    QTest::newRow("obs-fold") << QByteArray(
            "PUT / HTTP/1.1\r\nX-A: 1\r\n Content-Length: 19\r\n\r\nGET /x HTTP/1.1\r\n\r\n")
                              << 16000;
    QTest::newRow("transfer-encoding")
            << QByteArray("PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "16\r\nGET /x HTTP/1.1\r\n\r\n\r\n0\r\n\r\n")
            << 16000;
}

void tst_HttpRequest::feedingDoesNotMatter()
{
    QFETCH(QByteArray, data);
    QFETCH(int, maxRequestSize);
    HttpRequestLimits limits;
    limits.maxRequestSize = maxRequestSize;

    const Outcome whole = feed(inChunks(data), limits);
    QVERIFY(whole.description.startsWith(QByteArray::number(HttpRequest::Complete))
            || whole.description.startsWith(QByteArray::number(HttpRequest::Aborted)));

    const Outcome byteByByte = feed(inChunks(data, 1), limits);
    QCOMPARE(byteByByte.description, whole.description);
    QCOMPARE(byteByByte.warnings, whole.warnings);
    QCOMPARE(byteByByte.unread, whole.unread);

    for (int offset = 1; offset < data.size(); ++offset) {
        const Outcome split = feed(splitAt(data, offset), limits);
        QVERIFY2(split.description == whole.description, qPrintable(QString::number(offset)));
        QCOMPARE(split.warnings, whole.warnings);
        QCOMPARE(split.unread, whole.unread);
    }

    // Every prefix of a request that completes needs more bytes.
    if (whole.description.startsWith(QByteArray::number(HttpRequest::Complete))) {
        const int used = data.size() - whole.unread;
        MessageCapture capture;
        for (int length = 0; length < used; ++length) {
            HttpRequest request(limits);
            feedPieces(request, { data.left(length) });
            QVERIFY2(!isFinished(request.parseState()), qPrintable(QString::number(length)));
        }
    }
}

void tst_HttpRequest::requestLine_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("rawPath");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<QStringList>("warnings");

    const QStringList none;
    const QStringList broken{ "HttpRequest: received broken HTTP request, invalid first line" };
    QTest::newRow("example") << QByteArray("GET /a%20b?x=1&y=%41+B HTTP/1.1\r\n\r\n")
                             << int(HttpRequest::Complete) << QByteArray("GET")
                             << QByteArray("/a%20b") << QByteArray("/a b") << QByteArray("HTTP/1.1")
                             << none;
    QTest::newRow("content-length-zero")
            << QByteArray("POST /x HTTP/1.0\r\ncontent-length: 0\r\n\r\n")
            << int(HttpRequest::Complete) << QByteArray("POST") << QByteArray("/x")
            << QByteArray("/x") << QByteArray("HTTP/1.0") << none;
    QTest::newRow("two-parts") << QByteArray("GET /index\r\n") << int(HttpRequest::Aborted)
                               << QByteArray() << QByteArray() << QByteArray() << QByteArray()
                               << broken;
    QTest::newRow("not-http") << QByteArray("GET / FTP/1.0\r\n") << int(HttpRequest::Aborted)
                              << QByteArray() << QByteArray() << QByteArray() << QByteArray()
                              << broken;
    QTest::newRow("double-space") << QByteArray("GET  / HTTP/1.1\r\n") << int(HttpRequest::Aborted)
                                  << QByteArray() << QByteArray() << QByteArray() << QByteArray()
                                  << broken;
    QTest::newRow("headers-pending")
            << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n") << int(HttpRequest::AwaitHeader)
            << QByteArray("GET") << QByteArray("/") << QByteArray("/") << QByteArray("HTTP/1.1")
            << none;
}

void tst_HttpRequest::requestLine()
{
    QFETCH(QByteArray, data);
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request, { data });
    QTEST(int(request.parseState()), "state");
    QTEST(request.method(), "method");
    QTEST(request.rawPath(), "rawPath");
    QTEST(request.path(), "path");
    QTEST(request.version(), "version");
    QTEST(capture.problems(), "warnings");
}

void tst_HttpRequest::headers()
{
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request, { "GET / HTTP/1.1\r\nX-Test: one\r\nx-test: two\r\nEmpty:\r\n\r\n" });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(request.header("X-TEST"), QByteArray("two"));
    QCOMPARE(request.headerValues("x-test"), (QList<QByteArray>{ "two", "one" }));
    QVERIFY(request.headerMap().contains("empty"));
    QCOMPARE(request.header("missing"), QByteArray());
}

void tst_HttpRequest::parameters_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QList<QByteArray>>("values");

    const QByteArray example = "GET /a%20b?x=1&y=%41+B HTTP/1.1\r\n\r\n";
    QTest::newRow("example-x") << example << QByteArray("x") << QList<QByteArray>{ "1" };
    QTest::newRow("example-y") << example << QByteArray("y") << QList<QByteArray>{ "A B" };
    QTest::newRow("repeated") << QByteArray("GET /?k=1&&k=2&flag HTTP/1.1\r\n\r\n")
                              << QByteArray("k") << QList<QByteArray>{ "2", "1" };
    QTest::newRow("flag-without-value") << QByteArray("GET /?k=1&&k=2&flag HTTP/1.1\r\n\r\n")
                                        << QByteArray("flag") << QList<QByteArray>{ "" };
    const QByteArray post = "POST /f?a=1 HTTP/1.1\r\nContent-Length: 9\r\n\r\na=2&b=%2B";
    QTest::newRow("body-after-query") << post << QByteArray("a") << QList<QByteArray>{ "2", "1" };
    QTest::newRow("body-decoded") << post << QByteArray("b") << QList<QByteArray>{ "+" };
    QTest::newRow("other-content-type") << QByteArray(
            "POST / HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\n"
            "a=1") << QByteArray("a") << QList<QByteArray>{};
    QTest::newRow("form-content-type")
            << QByteArray("POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded; "
                          "charset=utf-8\r\nContent-Length: 3\r\n\r\na=1")
            << QByteArray("a") << QList<QByteArray>{ "1" };
    QTest::newRow("trimmed") << QByteArray("GET /?%20n%20%20=%20v HTTP/1.1\r\n\r\n")
                             << QByteArray(" n  ") << QList<QByteArray>{ " v" };
}

void tst_HttpRequest::parameters()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, name);
    QFETCH(QList<QByteArray>, values);
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request, { data });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(request.parameterValues(name), values);
    QCOMPARE(request.parameter(name), values.value(0));
}

void tst_HttpRequest::cookies()
{
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request,
            { "GET / HTTP/1.1\r\nCookie: a=old\r\nCookie: a=1; b = 2 ; c;;\"d=x;y\"\r\n\r\n" });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    const QMap<QByteArray, QByteArray> expected{ { "a", "old" }, { "b", "2" }, { "c", "" },
        { "d", "x;y" } };
    // The most recent header comes first, so the earlier "a=old" wins.
    QCOMPARE(request.cookieMap(), expected);
    QCOMPARE(request.cookie("b"), QByteArray("2"));
    QCOMPARE(request.header("cookie"), QByteArray());
    QVERIFY(!request.headerMap().contains("cookie"));
}

void tst_HttpRequest::limits_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("unread");
    QTest::addColumn<QStringList>("warnings");

    // Request line (16) + "X: " + padding + CR LF + CR LF = 16000 bytes at the default limit.
    const QByteArray head = "GET / HTTP/1.1\r\nX: ";
    const int padding = 16000 - head.size() - 4;
    QTest::newRow("headers-atLimit") << head + QByteArray(padding, 'p') + "\r\n\r\n"
                                     << int(HttpRequest::Complete) << 0 << QStringList();
    QTest::newRow("headers-overLimit") << head + QByteArray(padding + 1, 'p') + "\r\n\r\n"
                                       << int(HttpRequest::Aborted) << 0
                                       << QStringList{ "HttpRequest: received too many bytes" };
    // A line is read at most one byte beyond the limit.
    QTest::newRow("line-overLimit") << head + QByteArray(20000, 'p') + "\r\n\r\n"
                                    << int(HttpRequest::Aborted) << head.size() + 20004 - 16001
                                    << QStringList{ "HttpRequest: received too many bytes" };

    const QByteArray postHead = "POST / HTTP/1.1\r\nContent-Length: ";
    const int headerSize = postHead.size() + 5 + 4;
    const int atLimit = 16000 - headerSize;
    QTest::newRow("body-atLimit") << postHead + QByteArray::number(atLimit) + "\r\n\r\n"
                    + QByteArray(atLimit, 'b')
                                  << int(HttpRequest::Complete) << 0 << QStringList();
    QTest::newRow("body-overLimit") << postHead + QByteArray::number(atLimit + 1) + "\r\n\r\n"
                    + QByteArray(atLimit + 1, 'b')
                                    << int(HttpRequest::Aborted) << atLimit + 1
                                    << QStringList{ "HttpRequest: expected body is too large" };
}

void tst_HttpRequest::limits()
{
    QFETCH(QByteArray, data);
    QFETCH(int, state);
    QFETCH(int, unread);
    QFETCH(QStringList, warnings);
    for (const int chunkSize : { 0, 1 }) {
        MessageCapture capture;
        HttpRequest request(HttpRequestLimits{});
        QCOMPARE(feedPieces(request, inChunks(data, chunkSize)), unread);
        QCOMPARE(int(request.parseState()), state);
        QCOMPARE(capture.problems(), warnings);
    }
}

void tst_HttpRequest::contentLength_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("state");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("plain") << QByteArray("3") << int(HttpRequest::Complete) << QByteArray("abc");
    // Only digits: anything else would leave the body to be read as the next request.
    QTest::newRow("plus-sign") << QByteArray("+3") << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("not-a-number") << QByteArray("three") << int(HttpRequest::Aborted)
                                  << QByteArray();
    QTest::newRow("hexadecimal") << QByteArray("0x10") << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("empty") << QByteArray() << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("space-inside") << QByteArray("1 2") << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("negative") << QByteArray("-1") << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("wraps-32-bit") << QByteArray("4294967299") << int(HttpRequest::Aborted)
                                  << QByteArray();
    QTest::newRow("beyond-64-bit")
            << QByteArray("99999999999999999999999") << int(HttpRequest::Aborted) << QByteArray();
    QTest::newRow("int64-max") << QByteArray("9223372036854775807") << int(HttpRequest::Aborted)
                               << QByteArray();
}

void tst_HttpRequest::contentLength()
{
    QFETCH(QByteArray, value);
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request, { "PUT / HTTP/1.1\r\nContent-Length: " + value + "\r\n\r\nabc" });
    QTEST(int(request.parseState()), "state");
    QTEST(request.body(), "body");
    QCOMPARE(capture.problems().isEmpty(), request.parseState() == HttpRequest::Complete);

    // The same length on a multipart request.
    HttpRequest multipart(HttpRequestLimits{});
    feedPieces(multipart,
            { "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: "
                    + value + "\r\n\r\n" });
    if (request.parseState() == HttpRequest::Aborted)
        QCOMPARE(multipart.parseState(), HttpRequest::Aborted);
    else
        QVERIFY(multipart.parseState() != HttpRequest::Aborted);
}

void tst_HttpRequest::oneLengthPerRequest_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<int>("reason");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("repeated-identical") << QByteArray("Content-Length: 5\r\nContent-Length: 5\r\n")
                                        << int(HttpRequest::NotAborted) << QByteArray("GET /");
    QTest::newRow("list-identical") << QByteArray("Content-Length: 5, 5\r\n")
                                    << int(HttpRequest::NotAborted) << QByteArray("GET /");
    QTest::newRow("repeated-differing")
            << QByteArray("Content-Length: 5\r\nContent-Length: 0\r\n")
            << int(HttpRequest::ConflictingContentLength) << QByteArray();
    QTest::newRow("list-differing") << QByteArray("Content-Length: 5, 0\r\n")
                                    << int(HttpRequest::ConflictingContentLength) << QByteArray();
    QTest::newRow("chunked") << QByteArray("Transfer-Encoding: chunked\r\n")
                             << int(HttpRequest::TransferEncodingPresent) << QByteArray();
    QTest::newRow("chunked-withLength")
            << QByteArray("Content-Length: 5\r\nTransfer-Encoding: chunked\r\n")
            << int(HttpRequest::TransferEncodingPresent) << QByteArray();
}

void tst_HttpRequest::oneLengthPerRequest()
{
    QFETCH(QByteArray, headers);
    QFETCH(int, reason);
    QFETCH(QByteArray, body);
    // What follows the headers would be a second request to a reader that took another length.
    const QByteArray rest = "GET /smuggled HTTP/1.1\r\n\r\n";
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    const int unread = feedPieces(request, { "POST / HTTP/1.1\r\n" + headers + "\r\n" + rest });
    QCOMPARE(int(request.abortReason()), reason);
    QCOMPARE(request.parseState(),
            reason == HttpRequest::NotAborted ? HttpRequest::Complete : HttpRequest::Aborted);
    QCOMPARE(request.body(), body);
    // An aborted request takes nothing of its body.
    QCOMPARE(unread, rest.size() - body.size());
    QCOMPARE(capture.problems().size(), reason == HttpRequest::NotAborted ? 0 : 1);
}

void tst_HttpRequest::settingsLimits()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QSettings settings(folder.filePath("config.ini"), QSettings::IniFormat);
    const HttpRequestLimits defaults = HttpRequestLimits::fromSettings(settings);
    QCOMPARE(defaults.maxRequestSize, 16000);
    QCOMPARE(defaults.maxMultiPartSize, 1000000);

    settings.beginGroup("UPDATE");
    settings.setValue("maxRequestSize", "40");
    settings.setValue("maxMultiPartSize", 500);
    const HttpRequestLimits read = HttpRequestLimits::fromSettings(settings);
    QCOMPARE(read.maxRequestSize, 40);
    QCOMPARE(read.maxMultiPartSize, 500);

    MessageCapture capture;
    HttpRequest request(&settings);
    feedPieces(request, { "GET / HTTP/1.1\r\nHost: 0123456789012345678901\r\n\r\n" });
    QCOMPARE(request.parseState(), HttpRequest::Aborted);
    HttpRequest withoutSettings(nullptr);
    feedPieces(withoutSettings, { "GET / HTTP/1.1\r\nHost: 0123456789012345678901\r\n\r\n" });
    QCOMPARE(withoutSettings.parseState(), HttpRequest::Complete);
}

void tst_HttpRequest::malformedHeaderLines_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::newRow("folded-differing") << QByteArray("Content-Length: 5\r\n 0\r\n");
    QTest::newRow("space-before-colon") << QByteArray("Content-Length : 5\r\n");
    QTest::newRow("tab-before-colon") << QByteArray("Content-Length\t: 5\r\n");
    QTest::newRow("hex-length") << QByteArray("Content-Length: 0x10\r\n");
    QTest::newRow("obs-fold") << QByteArray("X-A: 1\r\n two\r\n");
    QTest::newRow("obs-fold-likeAHeader") << QByteArray("X-A: 1\r\n Content-Length: 5\r\n");
    QTest::newRow("obs-fold-blank") << QByteArray("X-A: 1\r\n \r\n");
    QTest::newRow("line-without-colon") << QByteArray("garbage\r\n");
}

// Lines a lenient reader would take otherwise: 400 and close, before any byte of the body.
void tst_HttpRequest::malformedHeaderLines()
{
    QFETCH(QByteArray, headers);
    const QByteArray rest = "\r\nGET /smuggled HTTP/1.1\r\n\r\n";
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    const int unread = feedPieces(request, { "POST / HTTP/1.1\r\n" + headers + rest });
    QCOMPARE(request.parseState(), HttpRequest::Aborted);
    QCOMPARE(int(request.abortReason()), int(HttpRequest::MalformedHeader));
    // At most the blank line that ends the headers is taken; the smuggled request never.
    QVERIFY(unread >= rest.size() - 2);
    QCOMPARE(capture.problems().size(), 1);
}

// Thousands of continuation lines end at the first: nothing is joined or kept.
void tst_HttpRequest::foldedHeaderStopsAtFirstFold()
{
    QByteArray data = "GET / HTTP/1.1\r\nX-Fold: v\r\n";
    const int foldsStart = data.size();
    while (data.size() < 16000 - 8)
        data += "\tz\r\n";
    data += "\r\n";
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    const int unread = feedPieces(request, { data });
    QCOMPARE(request.parseState(), HttpRequest::Aborted);
    QCOMPARE(unread, data.size() - foldsStart - 4);
}

void tst_HttpRequest::percentDecode_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("decoded");

    QTest::newRow("not-twice") << QByteArray("%2541") << QByteArray("%41");
    QTest::newRow("encoded-plus") << QByteArray("%2B") << QByteArray("+");
    QTest::newRow("literal-plus") << QByteArray("a+b") << QByteArray("a b");
    QTest::newRow("lower-case") << QByteArray("%7e%7E") << QByteArray("~~");
    QTest::newRow("not-hex") << QByteArray("100%zz") << QByteArray("100%zz");
    QTest::newRow("one-digit-at-end") << QByteArray("a%9") << QByteArray("a\t");
    QTest::newRow("percent-at-end") << QByteArray("a%") << QByteArray("a%");
    QTest::newRow("sign-is-not-hex") << QByteArray("%-1%+1") << QByteArray("%-1% 1");
    QTest::newRow("zero-byte") << QByteArray("a%00b") << QByteArray("a\0b", 3);
    QTest::newRow("high-byte") << QByteArray("%FF") << QByteArray("\xff");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_HttpRequest::percentDecode()
{
    QFETCH(QByteArray, source);
    QTEST(HttpRequest::percentDecode(source), "decoded");
}

void tst_HttpRequest::fromSocket()
{
    SocketPair pair;
    QVERIFY(pair.open());
    const QByteArray first = "POST /up?x=1 HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody";
    const QByteArray second = "GET /next HTTP/1.1\r\n\r\n";
    pair.client.write(first + second);
    QVERIFY(pair.client.waitForBytesWritten(SocketPair::waitMilliseconds));

    HttpRequest request(HttpRequestLimits{});
    while (!isFinished(request.parseState())) {
        if (pair.serverSide->bytesAvailable() == 0)
            QVERIFY(pair.serverSide->waitForReadyRead(SocketPair::waitMilliseconds));
        request.receive(pair.serverSide);
    }
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(request.peerAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(request.body(), QByteArray("body"));
    QCOMPARE(request.rawPath(), QByteArray("/up"));

    // The next request stays in the socket for the next parser.
    while (pair.serverSide->bytesAvailable() < second.size())
        QVERIFY(pair.serverSide->waitForReadyRead(SocketPair::waitMilliseconds));
    HttpRequest next(HttpRequestLimits{});
    while (pair.serverSide->bytesAvailable() > 0 && !isFinished(next.parseState()))
        next.receive(pair.serverSide);
    QCOMPARE(next.rawPath(), QByteArray("/next"));
}

QTEST_GUILESS_MAIN(tst_HttpRequest)
#include "tst_httprequest.moc"
