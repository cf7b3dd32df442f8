#ifndef QUENMAR_HTTPREQUEST_H
#define QUENMAR_HTTPREQUEST_H

// Used by one thread only: the connection handler's thread that feeds it and serves it.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QMultiMap>

#include <functional>
#include <map>
#include <memory>

class QIODevice;
class QSettings;
class QTcpSocket;
class QFile;

namespace quenmar {

class HttpTemporaryFile;

// Size limits of one request, in bytes.
struct HttpRequestLimits
{
    // Request line, headers and an ordinary body ("maxRequestSize").
    int maxRequestSize = 16000;
    // A multipart body and the form-field bytes counted from it ("maxMultiPartSize").
    int maxMultiPartSize = 1000000;

    // Reads "maxRequestSize" and "maxMultiPartSize" in the settings' current group; absent keys
    // keep the defaults above.
    static HttpRequestLimits fromSettings(const QSettings &settings);
};

// One HTTP request, received incrementally. Call receive() whenever bytes arrive and look at
// parseState() after each call:
//   - AwaitRequestLine, AwaitHeader, AwaitBody: more bytes are needed;
//   - Complete: method, path, headers, parameters, cookies, body and uploaded files are ready;
//   - Aborted: do not serve it; abortReason() tells why: a size limit was exceeded (a
//     "content-length" too large for any limit included), the "content-length" is negative or
//     the request line is malformed; or the body's length is ambiguous, because "content-length"
//     values differ or a "transfer-encoding" is present (chunked bodies are not supported).
// Lines end at LF (a CR before it is trimmed), so the result does not depend on how the bytes
// are split into arrivals. Counted bytes and lengths are 64-bit and cannot wrap.
// A "multipart/form-data" body is spooled to a temporary file and parsed into parameters and
// uploaded files when complete. Every temporary file is removed at the latest when the request is
// destroyed, and at once when it is aborted.
class HttpRequest
{
public:
    // Parts of a multipart body at most; more abort the request (LimitOrSyntax).
    static constexpr int maxMultipartParts = 1000;

    enum ParseState { AwaitRequestLine, AwaitHeader, AwaitBody, Complete, Aborted };
    // Why a request was Aborted. Where the body of a request ends must be beyond doubt: a proxy
    // in front that read the length otherwise would see other requests in the same bytes.
    enum AbortReason {
        NotAborted,
        // A size limit, a negative length, a malformed request line, or a multipart body that
        // cannot be stored or holds too many parts.
        LimitOrSyntax,
        // "content-length" values (or members of one list) that differ.
        ConflictingContentLength,
        // Any "transfer-encoding" header.
        TransferEncodingPresent,
        // A header line with a space before its colon, without a colon, or folded onto the
        // line before (obs-fold); a "content-length" that is not plain digits.
        MalformedHeader,
    };

    // Makes a temporary file of a multipart request (its spooled body, each upload), to be
    // create()d by the request.
    using TemporaryFileMaker = std::function<std::unique_ptr<HttpTemporaryFile>()>;

    // Reads the limits from the settings (see HttpRequestLimits::fromSettings); null means the
    // defaults.
    explicit HttpRequest(const QSettings *settings);
    // A null temporaryFileMaker makes plain HttpTemporaryFile objects; tests may keep the files
    // elsewhere, in memory for instance.
    explicit HttpRequest(
            const HttpRequestLimits &limits, TemporaryFileMaker temporaryFileMaker = nullptr);
    virtual ~HttpRequest();

    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;

    // Consumes what the socket has to offer for the current state. Must not be called once the
    // state is Complete or Aborted. The peer address is taken with the request line.
    void receive(QTcpSocket *socket);
    // The same on any device; for tests and fuzzing, and the core of the socket variant.
    void receive(QIODevice *device, const QHostAddress &peerAddress);

    ParseState parseState() const { return state; }
    AbortReason abortReason() const { return rejection; }

    QByteArray method() const { return requestMethod; }
    QByteArray version() const { return requestVersion; }
    // The path as received; once Complete without the query part.
    const QByteArray &rawPath() const { return requestPath; }
    // percentDecode() of rawPath().
    QByteArray path() const;

    // Most recent value of the header (name compared case-insensitively); empty if absent.
    QByteArray header(const QByteArray &name) const;
    // All values of the header, most recent first.
    QList<QByteArray> headerValues(const QByteArray &name) const;
    // Header names in lower case.
    QMultiMap<QByteArray, QByteArray> headerMap() const { return headers; }

    // Most recently inserted value of the parameter (exact name); empty if absent.
    QByteArray parameter(const QByteArray &name) const;
    QList<QByteArray> parameterValues(const QByteArray &name) const;
    QMultiMap<QByteArray, QByteArray> parameterMap() const { return parameters; }

    // An ordinary body; empty for a multipart request.
    QByteArray body() const { return bodyData; }

    QByteArray cookie(const QByteArray &name) const;
    QMap<QByteArray, QByteArray> &cookieMap() { return cookies; }

    // The uploaded file of that multipart field, open read-write and positioned at its start, or
    // null. Owned by the request; valid until the request is destroyed. Between calls the files
    // are kept closed, so a form with many files holds no descriptor per file.
    QFile *uploadedFile(const QByteArray &fieldName) const;

    QHostAddress peerAddress() const { return address; }

    // Decodes '+' to a space and %XX (one or two hexadecimal digits) to that byte, in one pass:
    // "%2541" gives "%41".
    static QByteArray percentDecode(const QByteArray &source);

private:
    // startsWithSpace, when given, tells whether the line began with a space or a tab (before
    // the trimming).
    bool assembleLine(QIODevice *device, QByteArray &line, bool *startsWithSpace = nullptr);
    void readRequestLine(QIODevice *device, const QHostAddress &peerAddress);
    void readHeaderLine(QIODevice *device);
    void finishHeaders();
    void readBodyData(QIODevice *device);
    void readMultipartBodyData(QIODevice *device);
    // False, with the parts read so far kept, when the body holds more than maxMultipartParts.
    bool parseMultipartFile();
    void storeUploadedFile(const QByteArray &fieldName, std::unique_ptr<HttpTemporaryFile> file);
    void decodeParameters();
    void collectCookies();
    // Reads the declared body length into expectedBodySize; false (with a reason set) when the
    // length is negative or ambiguous.
    bool readContentLength();
    // Ends the request unserved: the state becomes Aborted, the first reason
    // given stays, and the temporary files go at once.
    void abort(AbortReason reason = LimitOrSyntax);

    QMultiMap<QByteArray, QByteArray> headers;
    QMultiMap<QByteArray, QByteArray> parameters;
    std::map<QByteArray, std::unique_ptr<HttpTemporaryFile>> uploadedFiles;
    QMap<QByteArray, QByteArray> cookies;
    QByteArray bodyData;
    QByteArray requestMethod;
    QByteArray requestPath;
    QByteArray requestVersion;
    ParseState state = AwaitRequestLine;
    AbortReason rejection = NotAborted;
    QHostAddress address;
    int maxSize;
    int maxMultiPartSize;
    // Counted bytes and the declared body length; 64 bits so that no sum can wrap.
    qint64 currentSize = 0;
    qint64 expectedBodySize = 0;
    QByteArray currentHeader;
    QByteArray boundary;
    std::unique_ptr<HttpTemporaryFile> tempFile;
    QByteArray lineBuffer;
    TemporaryFileMaker makeTemporaryFile;
};

} // namespace quenmar

#endif // QUENMAR_HTTPREQUEST_H
