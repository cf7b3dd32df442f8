#ifndef WHOLEWRITE_H
#define WHOLEWRITE_H

#include <QtGlobal>

class QFileDevice;
class QIODevice;

// Writes a buffer whole. A write the system takes only in part (a disk
// filling up) is continued, so that a failure ends in a write the system
// refuses and the device's errorString() holds the system's reason, which Qt
// does not record for a partial write. Plain functions; the caller's thread.
class WholeWrite
{
public:
    // Writes size bytes from data to output; false on failure.
    static bool write(QIODevice *output, const char *data, qint64 size);

    // write(), then hands what file still buffers to the system, offering
    // again what a flush takes only in part; false on failure.
    static bool write_and_flush(QFileDevice &file, const char *data, qint64 size);
};

#endif // WHOLEWRITE_H
