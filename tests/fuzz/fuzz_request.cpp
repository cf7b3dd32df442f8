// The request parser, including multipart bodies, on arbitrary bytes. The first byte chooses the
// size of the pieces the rest arrives in (0: all at once); the result must not depend on it.

#include "fuzzsupport.h"
#include "httprequest.h"
#include "memorytemporaryfile.h"

#include <QBuffer>
#include <QFile>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>
#include <tuple>

using quenmar::HttpRequest;
using quenmar::HttpRequestLimits;

namespace {

// Small limits, so that short inputs reach every limit check.
HttpRequestLimits fuzzLimits()
{
    HttpRequestLimits limits;
    limits.maxRequestSize = 1024;
    limits.maxMultiPartSize = 1024;
    return limits;
}

std::unique_ptr<quenmar::HttpTemporaryFile> makeMemoryFile()
{
    return std::make_unique<MemoryTemporaryFile>();
}

bool isFinished(const HttpRequest &request)
{
    return request.parseState() == HttpRequest::Complete
            || request.parseState() == HttpRequest::Aborted;
}

// Bytes arriving at the end of one device, as at a socket, which like a socket finds a line's end
// at once.
class Arrivals : public QBuffer
{
public:
    Arrivals() { open(QIODevice::ReadOnly); }
    void arrive(const char *data, int size) { buffer().append(data, size); }

protected:
    qint64 readLineData(char *data, qint64 maxSize) override
    {
        return copyLine(buffer(), pos(), data, maxSize);
    }
};

// Feeds data in pieces of chunkSize bytes as the connection handler does; returns the bytes left.
int feed(HttpRequest &request, const QByteArray &data, int chunkSize)
{
    static const QHostAddress peer(QHostAddress::LocalHost);
    Arrivals device;
    for (int offset = 0; offset < data.size() && !isFinished(request); offset += chunkSize) {
        device.arrive(data.constData() + offset, qMin(chunkSize, data.size() - offset));
        while (device.bytesAvailable() > 0 && !isFinished(request))
            request.receive(&device, peer);
    }
    return data.size() - int(device.pos());
}

// What a request handler can see, uploaded file contents included.
struct Seen
{
    int state = 0;
    int abortReason = 0;
    QByteArray method;
    QByteArray path;
    QByteArray version;
    QByteArray body;
    QMultiMap<QByteArray, QByteArray> headers;
    QMultiMap<QByteArray, QByteArray> parameters;
    QMap<QByteArray, QByteArray> cookies;
    QMap<QByteArray, QByteArray> uploads;

    bool operator==(const Seen &other) const
    {
        const auto fields = [](const Seen &seen) {
            return std::tie(seen.state, seen.abortReason, seen.method, seen.path, seen.version,
                    seen.body, seen.headers, seen.parameters, seen.cookies, seen.uploads);
        };
        return fields(*this) == fields(other);
    }
};

Seen seenIn(HttpRequest &request)
{
    Seen seen;
    seen.state = request.parseState();
    seen.abortReason = request.abortReason();
    seen.method = request.method();
    seen.path = request.path();
    seen.version = request.version();
    seen.body = request.body();
    seen.headers = request.headerMap();
    seen.parameters = request.parameterMap();
    seen.cookies = request.cookieMap();
    for (auto it = seen.parameters.cbegin(); it != seen.parameters.cend(); ++it) {
        if (QFile *file = request.uploadedFile(it.key())) {
            FUZZ_CHECK(file->pos() == 0);
            seen.uploads.insert(it.key(), file->readAll());
        }
    }
    return seen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceMessages();
    if (size == 0)
        return 0;
    const int chunkSize = data[0] == 0 ? int(size) : data[0];
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, int(size) - 1);

    HttpRequest whole(fuzzLimits(), makeMemoryFile);
    const int wholeLeft = feed(whole, input, qMax(1, input.size()));
    HttpRequest pieces(fuzzLimits(), makeMemoryFile);
    const int piecesLeft = feed(pieces, input, chunkSize);

    FUZZ_CHECK(wholeLeft == piecesLeft);
    FUZZ_CHECK(seenIn(whole) == seenIn(pieces));
    if (whole.parseState() == HttpRequest::Complete) {
        FUZZ_CHECK(!whole.rawPath().contains('?'));
        FUZZ_CHECK(whole.header("cookie").isEmpty());
    }
    return 0;
}
