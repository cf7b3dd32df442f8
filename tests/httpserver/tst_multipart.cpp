#include "httprequest.h"
#include "httptestsupport.h"
#include "writelimit.h"

#include <QtTest>

using quenmar::HttpRequest;
using quenmar::HttpRequestLimits;

// The multipart body reader of HttpRequest: spooling, parts, uploaded files, limits and the
// lifetime of the temporary files.
class tst_Multipart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void textAndFile_data();
    void textAndFile();
    void sizeLimit_data();
    void sizeLimit();
    void formFieldBytesAreCounted();
    void unsupportedAndEmptyParts();
    void queryParameterComesFirst();
    void replacedFileIsDeletedAtOnce();
    void thousandsOfFileParts_data();
    void thousandsOfFileParts();
    void partialUploadLeavesNoFile();
    void bodyThatCannotBeStoredIsAborted();

private:
    QStringList temporaryFiles() const;

    // Private temporary folder, so that files left behind can be counted.
    QTemporaryDir temporaryFolder;
};

namespace {

struct Part
{
    QByteArray name;
    QByteArray fileName; // empty for a form field
    QByteArray content;
};

const QByteArray boundary = "----b0undary";

QByteArray multipartBody(const QList<Part> &parts)
{
    QByteArray body;
    for (const Part &part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + part.name + '"';
        if (!part.fileName.isEmpty())
            body += "; filename=\"" + part.fileName
                    + "\"\r\nContent-Type: application/octet-stream";
        body += "\r\n\r\n" + part.content + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

QByteArray multipartRequest(const QByteArray &body, const QByteArray &boundaryParameter = boundary,
        const QByteArray &target = "/upload")
{
    return "POST " + target
            + " HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundaryParameter
            + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// Descriptors of this process (Linux); -1 where that cannot be seen.
// -1 where the system does not list them (under wine, /proc is the Linux host's).
int openDescriptors()
{
#ifdef Q_OS_LINUX
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    return descriptors.exists() ? int(descriptors.count()) : -1;
#else
    return -1;
#endif
}

} // namespace

void tst_Multipart::initTestCase()
{
    QVERIFY(temporaryFolder.isValid());
#ifdef Q_OS_WIN
    qputenv("TMP", QFile::encodeName(temporaryFolder.path()));
#else
    qputenv("TMPDIR", QFile::encodeName(temporaryFolder.path()));
#endif
    QCOMPARE(QDir::tempPath(), QDir(temporaryFolder.path()).canonicalPath());
}

void tst_Multipart::cleanup()
{
    QCOMPARE(temporaryFiles(), QStringList());
}

QStringList tst_Multipart::temporaryFiles() const
{
    return QDir(temporaryFolder.path()).entryList(QDir::Files | QDir::Hidden);
}

void tst_Multipart::textAndFile_data()
{
    QTest::addColumn<QByteArray>("boundaryParameter");
    QTest::addColumn<int>("chunkSize");

    QTest::newRow("whole") << boundary << 0;
    QTest::newRow("byte-by-byte") << boundary << 1;
    QTest::newRow("chunks-of-7") << boundary << 7;
    QTest::newRow("quoted-boundary") << '"' + boundary + '"' << 0;
}

void tst_Multipart::textAndFile()
{
    QFETCH(QByteArray, boundaryParameter);
    QFETCH(int, chunkSize);
    static const char fileBytes[] = "line one\r\nbinary \0\xff\r\n\r\nend";
    const QByteArray fileData(fileBytes, int(sizeof fileBytes) - 1);
    const QByteArray body = multipartBody(
            { { "F", QByteArray(), "two\r\nlines" }, { "U", "report.bin", fileData } });

    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    QCOMPARE(
            feedPieces(request, inChunks(multipartRequest(body, boundaryParameter), chunkSize)), 0);
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(capture.problems(), QStringList());
    QCOMPARE(request.parameter("F"), QByteArray("two\r\nlines"));
    QCOMPARE(request.parameter("U"), QByteArray("report.bin"));
    QCOMPARE(request.body(), QByteArray());
    QCOMPARE(request.uploadedFile("F"), nullptr);

    QFile *uploaded = request.uploadedFile("U");
    QVERIFY(uploaded);
    QCOMPARE(uploaded->pos(), qint64(0));
    QCOMPARE(uploaded->readAll(), fileData);
    // Asking again starts at the beginning again.
    QCOMPARE(request.uploadedFile("U")->readAll(), fileData);
    QCOMPARE(temporaryFiles().size(), 1);
}

void tst_Multipart::sizeLimit_data()
{
    QTest::addColumn<int>("bodySize");
    QTest::addColumn<int>("declaredSize");
    QTest::addColumn<int>("state");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("unread");

    QTest::newRow("body-belowLimit")
            << 999999 << 999999 << int(HttpRequest::Complete) << QStringList() << 0;
    QTest::newRow("body-atLimit") << 1000000 << 1000000 << int(HttpRequest::Aborted)
                                  << QStringList{ "HttpRequest: received too many multipart bytes" }
                                  << 0;
    QTest::newRow("declared-overLimit")
            << 1000001 << 1000001 << int(HttpRequest::Aborted)
            << QStringList{ "HttpRequest: expected multipart body is too large" } << 1000001;
    // Bytes beyond the declared length belong to the next request.
    QTest::newRow("extra-bytes-not-taken")
            << 1000 << 990 << int(HttpRequest::Complete) << QStringList() << 10;
}

void tst_Multipart::sizeLimit()
{
    QFETCH(int, bodySize);
    QFETCH(int, declaredSize);
    const QByteArray frame = multipartBody({ { "U", "big.bin", QByteArray() } });
    QByteArray body = multipartBody(
            { { "U", "big.bin", QByteArray(qMax(0, bodySize - frame.size()), 'x') } });
    body.resize(bodySize);
    QByteArray data = multipartRequest(body);
    data.replace("Content-Length: " + QByteArray::number(bodySize),
            "Content-Length: " + QByteArray::number(declaredSize));

    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    QTEST(feedPieces(request, inChunks(data, 4096)), "unread");
    QTEST(int(request.parseState()), "state");
    QTEST(capture.problems(), "warnings");
    if (request.parseState() == HttpRequest::Aborted)
        QCOMPARE(temporaryFiles(), QStringList());
}

void tst_Multipart::formFieldBytesAreCounted()
{
    // Field bytes count against the multipart limit after the body is parsed, on top of the
    // request line and headers (104 bytes here); file bytes do not.
    HttpRequestLimits limits;
    limits.maxMultiPartSize = 500;
    const QByteArray fieldRequest =
            multipartRequest(multipartBody({ { "F", {}, QByteArray(395, 'f') } }));
    const QByteArray fileRequest =
            multipartRequest(multipartBody({ { "U", "u", QByteArray(300, 'u') } }));
    QVERIFY(fieldRequest.size() - fieldRequest.indexOf("\r\n\r\n") < 500);

    MessageCapture capture;
    HttpRequest field(limits);
    feedPieces(field, { fieldRequest });
    QCOMPARE(field.parseState(), HttpRequest::Aborted);
    QCOMPARE(capture.problems(), QStringList{ "HttpRequest: received too many bytes" });

    HttpRequest file(limits);
    feedPieces(file, { fileRequest });
    QCOMPARE(file.parseState(), HttpRequest::Complete);
    QCOMPARE(file.uploadedFile("U")->size(), qint64(300));
}

void tst_Multipart::unsupportedAndEmptyParts()
{
    const QByteArray body = "--" + boundary
            + "\r\nContent-Disposition: attachment; name=\"a\"\r\n\r\nignored\r\n--" + boundary
            + "\r\nContent-Disposition: form-data; name=\"e\"; filename=\"empty\"\r\n\r\n--"
            + boundary
            + "\r\nContent-Disposition: form-data; filename=\"nameless\"\r\n\r\ndropped\r\n--"
            + boundary + "\r\nContent-Disposition: form-data; name=\"ok\"\r\n\r\nyes\r\n--"
            + boundary + "--\r\n";
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request, { multipartRequest(body) });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(capture.problems(),
            QStringList{ "HttpRequest: format error, unexpected end of file data" });
    QVERIFY(capture.messages(QtDebugMsg)
                    .contains("HttpRequest: ignoring unsupported content part Content-Disposition: "
                              "attachment; "
                              "name=\"a\""));
    const QMultiMap<QByteArray, QByteArray> expected{ { "ok", "yes" } };
    QCOMPARE(request.parameterMap(), expected);
    QCOMPARE(request.uploadedFile("e"), nullptr);
}

void tst_Multipart::queryParameterComesFirst()
{
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request,
            { multipartRequest(
                    multipartBody({ { "F", {}, "from-form" } }), boundary, "/u?F=from-query") });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(request.parameter("F"), QByteArray("from-query"));
    QCOMPARE(request.parameterValues("F"), (QList<QByteArray>{ "from-query", "from-form" }));
    QCOMPARE(request.rawPath(), QByteArray("/u"));
}

void tst_Multipart::replacedFileIsDeletedAtOnce()
{
    HttpRequest request(HttpRequestLimits{});
    feedPieces(request,
            { multipartRequest(multipartBody(
                    { { "U", "first.txt", "one" }, { "U", "second.txt", "two" } })) });
    QCOMPARE(request.parseState(), HttpRequest::Complete);
    QCOMPARE(request.parameterValues("U"), (QList<QByteArray>{ "second.txt", "first.txt" }));
    QCOMPARE(request.uploadedFile("U")->readAll(), QByteArray("two"));
    // Only the surviving upload is left: the replaced one and the raw body are gone.
    QCOMPARE(temporaryFiles().size(), 1);
}

void tst_Multipart::thousandsOfFileParts_data()
{
    QTest::addColumn<int>("partCount");
    QTest::newRow("parts-atLimit") << HttpRequest::maxMultipartParts;
    QTest::newRow("parts-overLimit") << HttpRequest::maxMultipartParts + 1;
}

void tst_Multipart::thousandsOfFileParts()
{
    QFETCH(int, partCount);
    QList<Part> parts;
    for (int i = 0; i < partCount; ++i)
        parts.append({ "f" + QByteArray::number(i), "n", QByteArray::number(i) });
    const QByteArray data = multipartRequest(multipartBody(parts));

    MessageCapture capture;
    const int descriptorsBefore = openDescriptors();
    const bool atLimit = partCount <= HttpRequest::maxMultipartParts;
    {
        HttpRequest request(HttpRequestLimits{});
        feedPieces(request, inChunks(data, 65536));
        QCOMPARE(request.parseState(), atLimit ? HttpRequest::Complete : HttpRequest::Aborted);
        if (descriptorsBefore >= 0)
            QVERIFY(openDescriptors() - descriptorsBefore < 8);
        QCOMPARE(temporaryFiles().size(), atLimit ? partCount : 0);
        for (const int i : { 0, 123, partCount - 1 }) {
            QFile *file = request.uploadedFile("f" + QByteArray::number(i));
            QCOMPARE(file != nullptr, atLimit);
            if (file)
                QCOMPARE(file->readAll(), QByteArray::number(i));
        }
    }
    QCOMPARE(openDescriptors(), descriptorsBefore);
}

void tst_Multipart::partialUploadLeavesNoFile()
{
    // The connection drops halfway through the body: the spooled part must not outlive the
    // request.
    const QByteArray data =
            multipartRequest(multipartBody({ { "U", "u", QByteArray(5000, 'u') } }));
    {
        HttpRequest request(HttpRequestLimits{});
        feedPieces(request, { data.left(data.size() / 2) });
        QCOMPARE(request.parseState(), HttpRequest::AwaitBody);
        QCOMPARE(temporaryFiles().size(), 1);
    }
    QCOMPARE(temporaryFiles(), QStringList());
}

void tst_Multipart::bodyThatCannotBeStoredIsAborted()
{
#ifdef Q_OS_UNIX
    // As on a full disk: the spooled body cannot be written whole. It must be neither parsed in
    // part nor waited for.
    const QByteArray data =
            multipartRequest(multipartBody({ { "U", "u", QByteArray(50000, 'u') } }));
    MessageCapture capture;
    HttpRequest request(HttpRequestLimits{});
    {
        WriteLimit limit(4096);
        QVERIFY(limit.active);
        feedPieces(request, { data });
    }
    QCOMPARE(request.parseState(), HttpRequest::Aborted);
    QCOMPARE(capture.problems().size(), 1);
    QVERIFY(capture.problems().first().startsWith(
            QStringLiteral("HttpRequest: cannot write temp file for multipart body")));
#else
    QSKIP("file size limits (rlimits) are POSIX");
#endif
}

QTEST_GUILESS_MAIN(tst_Multipart)
#include "tst_multipart.moc"
