#include "consolestream.h"

#include <QMutexLocker>
#include <QTextCodec>

namespace {

ConsoleStream *messageStream = nullptr;

void writeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString formatted = qFormatLogMessage(type, context, message);
    if (formatted.isNull())
        return;
    const QByteArray line = (formatted + QLatin1Char('\n')).toUtf8();
    messageStream->writeText(line.constData(), line.size());
}

} // namespace

ConsoleStream::ConsoleStream(FILE *stream) : stream(stream)
{
    prepare();
    if (console)
        decoder.reset(QTextCodec::codecForName("UTF-8")->makeDecoder());
    open(QIODevice::WriteOnly | QIODevice::Unbuffered);
}

ConsoleStream::~ConsoleStream() = default;

bool ConsoleStream::writeText(const char *data, qint64 size)
{
    QMutexLocker locker(&lock);
    return writeToSystem(data, size);
}

void ConsoleStream::installMessageHandler(ConsoleStream *error)
{
    messageStream = error;
    qInstallMessageHandler(writeMessage);
}

bool ConsoleStream::writeBytes(const char *data, qint64 size)
{
    return std::fwrite(data, 1, size_t(size), stream) == size_t(size) && std::fflush(stream) == 0;
}

qint64 ConsoleStream::readData(char *, qint64)
{
    return -1;
}

qint64 ConsoleStream::writeData(const char *data, qint64 size)
{
    return writeText(data, size) ? size : -1;
}
