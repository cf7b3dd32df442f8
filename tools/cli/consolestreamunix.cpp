// ConsoleStream on Unix: the bytes as they are.

#include "consolestream.h"

void ConsoleStream::prepare() { }

bool ConsoleStream::writeToSystem(const char *data, qint64 size)
{
    return writeBytes(data, size);
}
