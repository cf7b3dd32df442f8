#include "wholewrite.h"

#include <QFileDevice>

bool WholeWrite::write(QIODevice *output, const char *data, qint64 size)
{
    for (qint64 written = 0; written < size;) {
        const qint64 count = output->write(data + written, size - written);
        if (count <= 0)
            return false;
        written += count;
    }
    return true;
}

bool WholeWrite::write_and_flush(QFileDevice &file, const char *data, qint64 size)
{
    if (!write(&file, data, size))
        return false;
    for (qint64 pending = file.bytesToWrite(); !file.flush();) {
        const qint64 left = file.bytesToWrite();
        if (left == 0 || left >= pending)
            return false;
        pending = left;
    }
    return true;
}
