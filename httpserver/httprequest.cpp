#include "httprequest.h"
#include "httpcookie.h"
#include "httplogging.h"
#include "httptemporaryfile.h"

#include <QSettings>
#include <QTcpSocket>
#include <QtDebug>

#include <limits>

namespace quenmar {

namespace {

// Bytes of a multipart body taken from the socket per receive() call, at most.
constexpr qint64 multipartReadSize = 65536;
// Longest line read at once while parsing a spooled multipart body.
constexpr qint64 multipartLineSize = 65536;
// Stands for a declared body length too large for any limit; small enough that adding the
// counted bytes cannot overflow.
constexpr qint64 unboundedLength = qint64(std::numeric_limits<int>::max()) + 1;

// The text between marker and the next double quote, if the marker is found and a closing quote
// follows; otherwise target stays as it is.
void extractQuoted(const QByteArray &line, const QByteArray &marker, QByteArray &target)
{
    const int start = line.indexOf(marker);
    if (start < 0)
        return;
    const int valueStart = start + marker.size();
    const int end = line.indexOf('"', valueStart);
    if (end >= 0)
        target = line.mid(valueStart, end - valueStart);
}

// QIODevice::read(n) allocates n bytes before reading: asking for no more than has arrived costs
// each call the bytes present, not the most it may take.
qint64 atMostPresent(QIODevice *device, qint64 wanted)
{
    return qMin(wanted, device->bytesAvailable());
}

// Appends the rest of the current line of device to line: up to its LF, the end of what has
// arrived, or wanted - 1 bytes. Read in small pieces into line's own memory, so that each line
// costs the bytes it has, not the most it may have, and a line arriving in pieces, or many lines
// read through one buffer, cost no allocation each. Returns the bytes appended.
qint64 appendLine(QIODevice *device, QByteArray &line, qint64 wanted)
{
    char piece[1024];
    qint64 appended = 0;
    while (appended < wanted - 1) {
        const qint64 count =
                device->readLine(piece, qMin<qint64>(qint64(sizeof piece), wanted - appended));
        if (count <= 0)
            break;
        line.append(piece, int(count));
        appended += count;
        if (piece[count - 1] == '\n')
            break;
    }
    return appended;
}

// Digits only: RFC 9110's Content-Length has no sign and no other base.
bool isDecimal(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) < '0' || text.at(i) > '9')
            return false;
    }
    return true;
}

// A header name: RFC 9110's token characters, so no space, tab or control byte.
bool isToken(const QByteArray &name)
{
    static const QByteArray punctuation("!#$%&'*+-.^_`|~");
    for (const char character : name) {
        const bool alphanumeric = (character >= 'a' && character <= 'z')
                || (character >= 'A' && character <= 'Z') || (character >= '0' && character <= '9');
        if (!alphanumeric && !punctuation.contains(character))
            return false;
    }
    return true;
}

int hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    return -1;
}

} // namespace

HttpRequestLimits HttpRequestLimits::fromSettings(const QSettings &settings)
{
    HttpRequestLimits limits;
    limits.maxRequestSize =
            settings.value(QStringLiteral("maxRequestSize"), limits.maxRequestSize).toInt();
    limits.maxMultiPartSize =
            settings.value(QStringLiteral("maxMultiPartSize"), limits.maxMultiPartSize).toInt();
    return limits;
}

HttpRequest::HttpRequest(const QSettings *settings)
    : HttpRequest(settings ? HttpRequestLimits::fromSettings(*settings) : HttpRequestLimits())
{
}

HttpRequest::HttpRequest(const HttpRequestLimits &limits, TemporaryFileMaker temporaryFileMaker)
    : maxSize(limits.maxRequestSize), maxMultiPartSize(limits.maxMultiPartSize),
      makeTemporaryFile(temporaryFileMaker ? std::move(temporaryFileMaker)
                                           : [] { return std::make_unique<HttpTemporaryFile>(); })
{
}

HttpRequest::~HttpRequest() = default;

void HttpRequest::receive(QTcpSocket *socket)
{
    receive(socket, socket->peerAddress());
}

void HttpRequest::receive(QIODevice *device, const QHostAddress &peerAddress)
{
    switch (state) {
    case AwaitRequestLine:
        readRequestLine(device, peerAddress);
        break;
    case AwaitHeader:
        readHeaderLine(device);
        break;
    case AwaitBody:
        readBodyData(device);
        break;
    case Complete:
    case Aborted:
        return;
    }

    const qint64 limit = boundary.isEmpty() ? maxSize : maxMultiPartSize;
    if (currentSize > limit) {
        qCWarning(httpLog, "HttpRequest: received too many bytes");
        abort();
    } else if (state == Complete) {
        decodeParameters();
        collectCookies();
    }
}

QByteArray HttpRequest::path() const
{
    return percentDecode(requestPath);
}

QByteArray HttpRequest::header(const QByteArray &name) const
{
    return headers.value(name.toLower());
}

QList<QByteArray> HttpRequest::headerValues(const QByteArray &name) const
{
    return headers.values(name.toLower());
}

QByteArray HttpRequest::parameter(const QByteArray &name) const
{
    return parameters.value(name);
}

QList<QByteArray> HttpRequest::parameterValues(const QByteArray &name) const
{
    return parameters.values(name);
}

QByteArray HttpRequest::cookie(const QByteArray &name) const
{
    return cookies.value(name);
}

QFile *HttpRequest::uploadedFile(const QByteArray &fieldName) const
{
    const auto found = uploadedFiles.find(fieldName);
    if (found == uploadedFiles.end())
        return nullptr;
    HttpTemporaryFile *file = found->second.get();
    if (!file->isOpen() && !file->open(QIODevice::ReadWrite)) {
        qCCritical(httpLog, "HttpRequest: cannot open uploaded file, %s",
                qPrintable(file->errorString()));
        return nullptr;
    }
    file->seek(0);
    return file;
}

QByteArray HttpRequest::percentDecode(const QByteArray &source)
{
    QByteArray decoded = source;
    decoded.replace('+', ' ');
    int percent = decoded.indexOf('%');
    while (percent >= 0) {
        // One or two hexadecimal digits; a '%' followed by anything else stays as it is.
        int value = -1;
        int length = 0;
        for (int i = percent + 1; i < decoded.size() && i <= percent + 2; ++i) {
            const int digit = hexValue(decoded.at(i));
            if (digit < 0) {
                value = -1;
                break;
            }
            value = (value < 0 ? 0 : value * 16) + digit;
            ++length;
        }
        if (value >= 0)
            decoded.replace(percent, 1 + length, QByteArray(1, char(value)));
        percent = decoded.indexOf('%', percent + 1);
    }
    return decoded;
}

bool HttpRequest::assembleLine(QIODevice *device, QByteArray &line, bool *startsWithSpace)
{
    // One byte more than the remaining allowance, so that an overlong line is noticed without
    // ever reading far beyond the limit. QIODevice::readLine(n) returns at most n - 1 bytes; with
    // n = allowance it would return nothing at the limit and the caller would spin for ever.
    const qint64 allowance = qMax<qint64>(1, qint64(maxSize) - currentSize + 1);
    currentSize += appendLine(device, lineBuffer, allowance + 1);
    // Only LF ends a line: a CR may be the last byte that has arrived so far, with its LF still
    // on the way, and must not end the line early.
    if (!lineBuffer.endsWith('\n'))
        return false;
    if (startsWithSpace)
        *startsWithSpace = lineBuffer.startsWith(' ') || lineBuffer.startsWith('\t');
    line = lineBuffer.trimmed();
    lineBuffer.clear();
    return true;
}

void HttpRequest::readRequestLine(QIODevice *device, const QHostAddress &peerAddress)
{
    QByteArray line;
    if (!assembleLine(device, line) || line.isEmpty())
        return;
    qCDebug(httpLog, "HttpRequest: from %s: %s", qPrintable(peerAddress.toString()),
            line.constData());
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts.at(2).contains("HTTP")) {
        qCWarning(httpLog, "HttpRequest: received broken HTTP request, invalid first line");
        abort();
        return;
    }
    requestMethod = parts.at(0).trimmed();
    requestPath = parts.at(1);
    requestVersion = parts.at(2);
    address = peerAddress;
    state = AwaitHeader;
}

void HttpRequest::readHeaderLine(QIODevice *device)
{
    QByteArray line;
    bool folded = false;
    if (!assembleLine(device, line, &folded))
        return;
    if (line.isEmpty() && !folded) {
        finishHeaders();
        return;
    }
    // A folded line, a space before the colon or a line without one could make one request's
    // body another's headers behind a proxy that reads them otherwise: 400 and close.
    const int colon = line.indexOf(':');
    if (folded || colon <= 0 || !isToken(line.left(colon))) {
        qCWarning(httpLog, "HttpRequest: received a malformed or folded header line");
        abort(MalformedHeader);
        return;
    }
    currentHeader = line.left(colon).toLower();
    headers.insert(currentHeader, line.mid(colon + 1).trimmed());
}

void HttpRequest::finishHeaders()
{
    const QByteArray contentType = headers.value("content-type");
    const int boundaryPosition = contentType.indexOf("boundary=");
    if (contentType.startsWith("multipart/form-data") && boundaryPosition >= 0) {
        boundary = contentType.mid(boundaryPosition + int(qstrlen("boundary=")));
        if (boundary.size() >= 2 && boundary.startsWith('"') && boundary.endsWith('"'))
            boundary = boundary.mid(1, boundary.size() - 2);
    }

    if (headers.contains("transfer-encoding")) {
        qCWarning(httpLog, "HttpRequest: received a transfer-encoding, which is not supported");
        abort(TransferEncodingPresent);
        return;
    }
    if (!readContentLength())
        return;

    if (expectedBodySize == 0) {
        state = Complete;
    } else if (boundary.isEmpty()) {
        if (expectedBodySize + currentSize > maxSize) {
            qCWarning(httpLog, "HttpRequest: expected body is too large");
            abort();
        } else {
            state = AwaitBody;
        }
    } else if (expectedBodySize > maxMultiPartSize) {
        qCWarning(httpLog, "HttpRequest: expected multipart body is too large");
        abort();
    } else {
        state = AwaitBody;
    }
}

bool HttpRequest::readContentLength()
{
    // Repeated headers, and the members of a comma-separated list, must all state one length.
    QByteArray lengthText;
    bool first = true;
    for (const QByteArray &value : headers.values("content-length")) {
        for (const QByteArray &member : value.split(',')) {
            const QByteArray trimmed = member.trimmed();
            if (first)
                lengthText = trimmed;
            else if (trimmed != lengthText) {
                qCWarning(httpLog, "HttpRequest: received differing content-length values");
                abort(ConflictingContentLength);
                return false;
            }
            first = false;
        }
    }
    if (!headers.contains("content-length"))
        return true;
    bool isNumber = false;
    const qint64 length = lengthText.toLongLong(&isNumber);
    if (isNumber && length < 0) {
        qCWarning(httpLog, "HttpRequest: received broken HTTP request, negative content-length");
        abort(LimitOrSyntax);
        return false;
    }
    if (!isDecimal(lengthText)) {
        qCWarning(httpLog, "HttpRequest: received a content-length that is not a number");
        abort(MalformedHeader);
        return false;
    }
    expectedBodySize = isNumber ? qMin(length, unboundedLength) : unboundedLength;
    return true;
}

void HttpRequest::readBodyData(QIODevice *device)
{
    if (!boundary.isEmpty()) {
        readMultipartBodyData(device);
        return;
    }
    const QByteArray piece =
            device->read(atMostPresent(device, expectedBodySize - bodyData.size()));
    currentSize += piece.size();
    bodyData += piece;
    if (bodyData.size() >= expectedBodySize)
        state = Complete;
}

void HttpRequest::readMultipartBodyData(QIODevice *device)
{
    if (!tempFile) {
        tempFile = makeTemporaryFile();
        if (!tempFile->create()) {
            qCCritical(httpLog, "HttpRequest: cannot create temp file for multipart body, %s",
                    qPrintable(tempFile->errorString()));
            abort();
            return;
        }
    }
    // The body is only appended, so the position is its length; asking the file for its size
    // would cost a flush and a system call per piece.
    const qint64 toRead =
            atMostPresent(device, qMin(expectedBodySize - tempFile->pos(), multipartReadSize));
    const QByteArray piece = device->read(toRead);
    // A body that cannot be stored whole (a full disk) must not be parsed or waited for.
    if (tempFile->write(piece) != piece.size()) {
        qCCritical(httpLog, "HttpRequest: cannot write temp file for multipart body, %s",
                qPrintable(tempFile->errorString()));
        abort();
        return;
    }

    const qint64 fileSize = tempFile->pos();
    if (fileSize >= maxMultiPartSize) {
        qCWarning(httpLog, "HttpRequest: received too many multipart bytes");
        abort();
    } else if (fileSize >= expectedBodySize) {
        // Going back to the start writes out what is still buffered.
        if (!tempFile->seek(0)) {
            qCCritical(httpLog, "HttpRequest: cannot write temp file for multipart body, %s",
                    qPrintable(tempFile->errorString()));
            abort();
            return;
        }
        if (!parseMultipartFile()) {
            qCWarning(httpLog, "HttpRequest: received too many multipart parts");
            abort();
            return;
        }
        // The raw body is no longer needed once its parts are stored.
        tempFile.reset();
        state = Complete;
    }
}

bool HttpRequest::parseMultipartFile()
{
    qCDebug(httpLog, "HttpRequest: parsing multipart temp file");
    const QByteArray delimiter = "--" + boundary;
    const QByteArray closingDelimiter = boundary + "--";
    const auto readable = [this]() {
        return !tempFile->atEnd() && tempFile->error() == QFileDevice::NoError;
    };
    // Every line is read into this one buffer; its capacity is kept between lines.
    QByteArray line;
    line.reserve(int(qMin(multipartLineSize, tempFile->size())));
    const auto nextLine = [&]() -> const QByteArray & {
        line.resize(0);
        appendLine(tempFile.get(), line, multipartLineSize);
        return line;
    };
    bool finished = false;
    int parts = 0;
    while (readable() && !finished) {
        // Each file part costs a temporary file made and deleted.
        if (++parts > maxMultipartParts)
            return false;
        QByteArray fieldName;
        QByteArray fileName;
        while (readable()) {
            const QByteArray header = nextLine().trimmed();
            if (header.startsWith("Content-Disposition:")) {
                if (header.contains("form-data")) {
                    // The leading space keeps " name=" from matching inside " filename=".
                    extractQuoted(header, " name=\"", fieldName);
                    extractQuoted(header, " filename=\"", fileName);
                } else {
                    qCDebug(httpLog, "HttpRequest: ignoring unsupported content part %s",
                            header.constData());
                }
            } else if (header.isEmpty()) {
                break;
            }
        }

        const bool isField = fileName.isEmpty() && !fieldName.isEmpty();
        const bool isFile = !fileName.isEmpty() && !fieldName.isEmpty();
        std::unique_ptr<HttpTemporaryFile> uploaded;
        QByteArray fieldValue;
        while (readable()) {
            nextLine();
            if (line.startsWith(delimiter)) {
                if (isField) {
                    // Without the CR LF that belongs to the delimiter.
                    fieldValue.chop(2);
                    parameters.insert(fieldName, fieldValue);
                    qCDebug(httpLog, "HttpRequest: set parameter %s=%s", fieldName.constData(),
                            fieldValue.constData());
                } else if (isFile && !uploaded) {
                    qCWarning(httpLog, "HttpRequest: format error, unexpected end of file data");
                } else if (isFile) {
                    uploaded->resize(qMax<qint64>(0, uploaded->size() - 2));
                    parameters.insert(fieldName, fileName);
                    qCDebug(httpLog, "HttpRequest: set parameter %s=%s", fieldName.constData(),
                            fileName.constData());
                    qCDebug(httpLog, "HttpRequest: uploaded file size is %lli",
                            static_cast<long long>(uploaded->size()));
                    storeUploadedFile(fieldName, std::move(uploaded));
                }
                if (line.contains(closingDelimiter))
                    finished = true;
                break;
            }
            if (isField) {
                currentSize += line.size();
                fieldValue += line;
            } else if (isFile) {
                if (!uploaded) {
                    uploaded = makeTemporaryFile();
                    if (!uploaded->create()) {
                        qCCritical(httpLog, "HttpRequest: error writing temp file, %s",
                                qPrintable(uploaded->errorString()));
                        uploaded.reset();
                        continue;
                    }
                }
                if (uploaded->write(line) < 0)
                    qCCritical(httpLog, "HttpRequest: error writing temp file, %s",
                            qPrintable(uploaded->errorString()));
            }
        }
    }
    if (tempFile->error() != QFileDevice::NoError)
        qCCritical(httpLog, "HttpRequest: cannot read temp file, %s",
                qPrintable(tempFile->errorString()));
    return true;
}

void HttpRequest::storeUploadedFile(
        const QByteArray &fieldName, std::unique_ptr<HttpTemporaryFile> file)
{
    // Closed until asked for, so that a form with many files cannot use up the descriptors; an
    // earlier file of the same field is deleted (and removed from disk) right here.
    file->close();
    uploadedFiles[fieldName] = std::move(file);
}

void HttpRequest::decodeParameters()
{
    QByteArray rawParameters;
    const int question = requestPath.indexOf('?');
    if (question >= 0) {
        rawParameters = requestPath.mid(question + 1);
        requestPath = requestPath.left(question);
    }
    const QByteArray contentType = headers.value("content-type");
    if (!bodyData.isEmpty()
            && (contentType.isEmpty()
                    || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (rawParameters.isEmpty())
            rawParameters = bodyData;
        else
            rawParameters += '&' + bodyData;
    }
    const QList<QByteArray> pieces = rawParameters.split('&');
    for (const QByteArray &piece : pieces) {
        const int equals = piece.indexOf('=');
        if (equals >= 0) {
            parameters.insert(percentDecode(piece.left(equals).trimmed()),
                    percentDecode(piece.mid(equals + 1).trimmed()));
        } else if (!piece.isEmpty()) {
            parameters.insert(percentDecode(piece), QByteArray());
        }
    }
}

void HttpRequest::collectCookies()
{
    const QList<QByteArray> values = headers.values("cookie");
    for (const QByteArray &value : values) {
        const QList<QByteArray> pieces = HttpCookie::splitSemicolonList(value);
        for (const QByteArray &piece : pieces) {
            const int equals = piece.indexOf('=');
            if (equals >= 0)
                cookies.insert(piece.left(equals).trimmed(), piece.mid(equals + 1).trimmed());
            else
                cookies.insert(piece.trimmed(), QByteArray());
        }
    }
    headers.remove("cookie");
}

void HttpRequest::abort(AbortReason reason)
{
    if (rejection == NotAborted)
        rejection = reason;
    state = Aborted;
    // Nothing of an aborted request is served, so its files go at once.
    tempFile.reset();
    uploadedFiles.clear();
}

} // namespace quenmar
