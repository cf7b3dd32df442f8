// HttpRequest::percentDecode on arbitrary bytes.

#include "fuzzsupport.h"
#include "httprequest.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceMessages();
    const QByteArray source(reinterpret_cast<const char *>(data), int(size));
    const QByteArray decoded = quenmar::HttpRequest::percentDecode(source);
    FUZZ_CHECK(decoded.size() <= source.size());
    // Each '%' removes at most the two digits after it.
    FUZZ_CHECK(decoded.size() >= source.size() - 2 * source.count('%'));
    if (!source.contains('%')) {
        QByteArray spaced = source;
        FUZZ_CHECK(decoded == spaced.replace('+', ' '));
    }
    return 0;
}
