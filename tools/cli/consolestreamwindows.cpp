// ConsoleStream on Windows: wide characters to a console, bytes in binary mode elsewhere.

#include "consolestream.h"

#include <QTextDecoder>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// Characters per console write: older consoles refuse large ones.
constexpr int consoleChunk = 8192;

} // namespace

void ConsoleStream::prepare()
{
    const int descriptor = _fileno(stream);
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode)) {
        console = handle;
        return;
    }
    // Redirected to a file or a pipe: the stream's text mode would put a CR before each LF.
    _setmode(descriptor, _O_BINARY);
}

bool ConsoleStream::writeToSystem(const char *data, qint64 size)
{
    if (!console)
        return writeBytes(data, size);
    const QString text = decoder->toUnicode(data, int(size));
    const auto *characters = reinterpret_cast<const wchar_t *>(text.utf16());
    for (int done = 0; done < text.size();) {
        DWORD written = 0;
        const DWORD wanted = DWORD(qMin(consoleChunk, text.size() - done));
        if (!::WriteConsoleW(console, characters + done, wanted, &written, nullptr) || written == 0)
            return false;
        done += int(written);
    }
    return true;
}
