#ifndef CONSOLESTREAM_H
#define CONSOLESTREAM_H

#include <QIODevice>
#include <QMutex>

#include <cstdio>
#include <memory>

class QTextDecoder;

// stdout or stderr of the command line as a device for UTF-8 text with bare line feeds, so that
// scripts read the same bytes on every system. Where the stream is a Windows console, the text
// is written to it as wide characters, so that Chinese shows whatever the console's code page;
// elsewhere the bytes go out as they are (Windows: in binary mode, without a CR before each
// line feed). Writes are unbuffered, and write_text() may be called from any thread: Qt's
// messages come from the server's threads.
class ConsoleStream : public QIODevice
{
public:
    // stream: stdout or stderr, not yet written to.
    explicit ConsoleStream(FILE *stream);
    ~ConsoleStream() override;

    bool isSequential() const override { return true; }
    // True when the text goes to a console as wide characters.
    bool writesToConsole() const { return console != nullptr; }

    // Writes UTF-8 text whole, from any thread; false when the system refused it.
    bool writeText(const char *data, qint64 size);

    // Sends Qt's messages, in the message pattern's form, to error as UTF-8 lines, from any
    // thread. (Qt's own handler writes them in the system's 8-bit code page on Windows.) error
    // must live until the process ends.
    static void installMessageHandler(ConsoleStream *error);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    // Per system: the console's handle, if the stream is one, and the stream's mode.
    void prepare();
    // Per system: writes to the console or the stream, whole; false on failure. Called locked.
    bool writeToSystem(const char *data, qint64 size);
    // Writes the bytes to the stream and flushes it.
    bool writeBytes(const char *data, qint64 size);

    FILE *stream;
    // The console's handle (Windows), else null.
    void *console = nullptr;
    // Turns the UTF-8 bytes into text for the console, also when a character spans two writes.
    std::unique_ptr<QTextDecoder> decoder;
    QMutex lock;
};

#endif // CONSOLESTREAM_H
