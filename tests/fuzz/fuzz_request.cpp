// The request parser, including multipart bodies, on arbitrary bytes. The first byte chooses the
// size of the pieces the rest arrives in (0: all at once); the result must not depend on it.

#include "fuzzsupport.h"
#include "httprequest.h"

#include <QBuffer>
#include <QFile>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>

using quenmar::HttpRequest;
using quenmar::HttpRequestLimits;

namespace {

// Small limits, so that short inputs reach every limit check.
HttpRequestLimits fuzzLimits()
{
    HttpRequestLimits limits;
    limits.maxRequestSize = 1024;
    limits.maxMultiPartSize = 4096;
    return limits;
}

bool isFinished(const HttpRequest &request)
{
    return request.parseState() == HttpRequest::Complete
            || request.parseState() == HttpRequest::Aborted;
}

// Feeds data in pieces of chunkSize bytes as the connection handler does; returns the bytes left.
int feed(HttpRequest &request, const QByteArray &data, int chunkSize)
{
    QByteArray pending;
    int offset = 0;
    while (offset < data.size() && !isFinished(request)) {
        pending += data.mid(offset, chunkSize);
        offset += chunkSize;
        QBuffer device(&pending);
        device.open(QIODevice::ReadOnly);
        while (device.bytesAvailable() > 0 && !isFinished(request))
            request.receive(&device, QHostAddress(QHostAddress::LocalHost));
        pending.remove(0, int(device.pos()));
    }
    return pending.size() + qMax(0, data.size() - offset);
}

// What a request handler can see, uploaded file contents included.
QByteArray describe(HttpRequest &request)
{
    QByteArray text = QByteArray::number(request.parseState()) + '|' + request.method() + '|'
            + request.path() + '|' + request.version() + '|' + request.body() + '|';
    const QMultiMap<QByteArray, QByteArray> headers = request.headerMap();
    for (auto it = headers.cbegin(); it != headers.cend(); ++it)
        text += it.key() + ':' + it.value() + '\n';
    const QMultiMap<QByteArray, QByteArray> parameters = request.parameterMap();
    for (auto it = parameters.cbegin(); it != parameters.cend(); ++it) {
        text += it.key() + '=' + it.value() + '\n';
        if (QFile *file = request.uploadedFile(it.key())) {
            FUZZ_CHECK(file->pos() == 0);
            text += file->readAll() + '\n';
        }
    }
    const QMap<QByteArray, QByteArray> &cookies = request.cookieMap();
    for (auto it = cookies.cbegin(); it != cookies.cend(); ++it)
        text += it.key() + '=' + it.value() + '\n';
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceMessages();
    if (size == 0)
        return 0;
    const int chunkSize = data[0] == 0 ? int(size) : data[0];
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size) - 1);

    HttpRequest whole(fuzzLimits());
    const int wholeLeft = feed(whole, input, qMax(1, input.size()));
    HttpRequest pieces(fuzzLimits());
    const int piecesLeft = feed(pieces, input, chunkSize);

    FUZZ_CHECK(wholeLeft == piecesLeft);
    FUZZ_CHECK(describe(whole) == describe(pieces));
    if (whole.parseState() == HttpRequest::Complete) {
        FUZZ_CHECK(!whole.rawPath().contains('?'));
        FUZZ_CHECK(whole.header("cookie").isEmpty());
    }
    return 0;
}
