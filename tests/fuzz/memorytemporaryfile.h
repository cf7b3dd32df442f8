#ifndef MEMORYTEMPORARYFILE_H
#define MEMORYTEMPORARYFILE_H

// A temporary file of a request kept in memory, for the request fuzz target: a file in the file
// system costs tens of microseconds per upload, which made the file system, not the parser, take
// most of each input's time. Supports what a request and its reader do with the file: create,
// write, seek, read lines, resize, close and open again.

#include "httptemporaryfile.h"

#include <cstring>

// Copies the line of content that starts at position (through its LF), at most maxSize bytes, to
// data, as QIODevice::readLineData() does; returns the bytes copied. A device that leaves this to
// QIODevice reads a line one byte per call.
inline qint64 copyLine(const QByteArray &content, qint64 position, char *data, qint64 maxSize)
{
    const int end = content.indexOf('\n', int(position));
    const qint64 lineSize = (end < 0 ? content.size() : end + 1) - position;
    const qint64 count = qBound<qint64>(0, lineSize, maxSize);
    std::memcpy(data, content.constData() + position, size_t(count));
    return count;
}

class MemoryTemporaryFile : public quenmar::HttpTemporaryFile
{
public:
    ~MemoryTemporaryFile() override { close(); }

    bool create() override { return open(QIODevice::ReadWrite); }
    // Unbuffered: the content is the only buffer.
    bool open(OpenMode mode) override { return QIODevice::open(mode | QIODevice::Unbuffered); }
    void close() override { QIODevice::close(); }
    qint64 size() const override { return content.size(); }
    bool seek(qint64 position) override { return QIODevice::seek(position); }
    bool atEnd() const override { return pos() >= size(); }
    bool resize(qint64 newSize) override
    {
        content.resize(int(newSize));
        return true;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qBound<qint64>(0, size() - pos(), maxSize);
        std::memcpy(data, content.constData() + pos(), size_t(count));
        return count;
    }
    qint64 readLineData(char *data, qint64 maxSize) override
    {
        return copyLine(content, pos(), data, maxSize);
    }
    qint64 writeData(const char *data, qint64 count) override
    {
        if (pos() + count > size())
            content.resize(int(pos() + count));
        std::memcpy(content.data() + pos(), data, size_t(count));
        return count;
    }

private:
    QByteArray content;
};

#endif // MEMORYTEMPORARYFILE_H
