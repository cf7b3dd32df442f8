// HttpCookie parsing and rendering, and splitSemicolonList, on arbitrary header values.

#include "fuzzsupport.h"
#include "httpcookie.h"

#include <cstddef>
#include <cstdint>

using quenmar::HttpCookie;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    silenceMessages();
    const QByteArray text(reinterpret_cast<const char *>(data), int(size));

    const QList<QByteArray> pieces = HttpCookie::splitSemicolonList(text);
    for (const QByteArray &piece : pieces) {
        FUZZ_CHECK(!piece.isEmpty());
        FUZZ_CHECK(piece == piece.trimmed());
        FUZZ_CHECK(!piece.contains('"'));
    }

    const HttpCookie cookie(text);
    const QByteArray rendered = cookie.toByteArray();
    FUZZ_CHECK(rendered.startsWith(cookie.getName() + '=' + cookie.getValue()));
    FUZZ_CHECK(rendered.endsWith("; Version=" + QByteArray::number(cookie.getVersion())));
    return 0;
}
