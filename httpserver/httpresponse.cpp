#include "httpresponse.h"

#include "httpnativesocket.h"

#include <QDeadlineTimer>
#include <QFileDevice>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>

namespace quenmar {

namespace {

// Output queued in the socket beyond which writing waits for the peer; bounds the memory held per
// connection when the peer reads slowly.
constexpr qint64 maxQueuedBytes = 16384;
// How often the system's send queue is looked at while waiting for the peer, in milliseconds.
constexpr int acknowledgementPollMs = 10;

} // namespace

HttpResponse::HttpResponse(QTcpSocket *socket)
    : socket(socket), sendsDirectly(!qobject_cast<QSslSocket *>(socket))
{
}

void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value)
{
    headerFields.insert(name, value);
}

void HttpResponse::setHeader(const QByteArray &name, int value)
{
    headerFields.insert(name, QByteArray::number(value));
}

void HttpResponse::setStatus(int statusCode, const QByteArray &description)
{
    this->statusCode = statusCode;
    statusDescription = description;
}

void HttpResponse::startBody(const QByteArray &data, bool lastPart)
{
    if (lastPart) {
        headerFields.insert("Content-Length", QByteArray::number(data.size()));
    } else {
        QByteArray connection = headerFields.value("Connection", headerFields.value("connection"));
        // Only the text before an embedded zero byte counts.
        connection = QByteArray(connection.constData());
        if (qstricmp(connection.constData(), "close") != 0) {
            headerFields.insert("Transfer-Encoding", "chunked");
            chunked = true;
        }
    }
    sendHeaders();
}

void HttpResponse::write(const QByteArray &data, bool lastPart)
{
    if (!headersSent)
        startBody(data, lastPart);
    if (!data.isEmpty()) {
        if (chunked) {
            sendToSocket(QByteArray::number(data.size(), 16));
            sendToSocket("\r\n");
            sendToSocket(data);
            sendToSocket("\r\n");
        } else {
            sendToSocket(data);
        }
    }
    if (lastPart) {
        if (chunked)
            sendToSocket("0\r\n\r\n");
        flush();
        lastPartDone = true;
    }
}

qint64 HttpResponse::writeFile(QFileDevice &file, qint64 offset, qint64 size)
{
    if (!headersSent)
        startBody(QByteArray(), false);
    qint64 taken = 0;
    if (sendsDirectly && !chunked && file.handle() >= 0) {
        while (taken < size && isConnected() && socket->bytesToWrite() == 0) {
            const qint64 sent = HttpNativeSocket::sendFileWithoutBlocking(
                    socket->socketDescriptor(), file.handle(), offset + taken, size - taken);
            if (sent == HttpNativeSocket::FileSendFailed) {
                socket->abort();
                return taken;
            }
            // With the socket buffer full, the rest goes to the socket's queue, as write() does:
            // measured, that keeps a download faster than waiting for room here.
            if (sent <= 0)
                break;
            taken += sent;
        }
    }
    if (taken == size || !file.seek(offset + taken))
        return taken;
    fileBuffer.resize(int(size - taken));
    const qint64 read = file.read(fileBuffer.data(), fileBuffer.size());
    if (read <= 0)
        return taken;
    fileBuffer.resize(int(read));
    write(fileBuffer, false);
    return taken + read;
}

void HttpResponse::setCookie(const HttpCookie &cookie)
{
    if (!cookie.getName().isEmpty())
        cookieFields.insert(cookie.getName(), cookie);
}

void HttpResponse::redirect(const QByteArray &url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponse::flush()
{
    socket->flush();
}

qint64 HttpResponse::queuedInSocket() const
{
    qint64 pending = socket->bytesToWrite();
    if (auto *sslSocket = qobject_cast<QSslSocket *>(socket))
        pending += sslSocket->encryptedBytesToWrite();
    return pending;
}

qint64 HttpResponse::unacknowledgedBytes() const
{
    if (!isConnected())
        return -1;
    const qint64 queued = HttpNativeSocket::unacknowledgedBytes(socket->socketDescriptor());
    return queued < 0 ? -1 : queued + queuedInSocket();
}

bool HttpResponse::waitUntilAcknowledged(const std::function<void(qint64)> &sampled)
{
    while (isConnected() && queuedInSocket() > 0) {
        if (!socket->waitForBytesWritten(stallTimeout) && queuedInSocket() > 0) {
            socket->abort();
            return false;
        }
    }
    qint64 unacknowledged = HttpNativeSocket::OutputQueueUnknown;
    QDeadlineTimer stalled(stallTimeout);
    while (isConnected()) {
        const qint64 queued = HttpNativeSocket::unacknowledgedBytes(socket->socketDescriptor());
        if (queued >= 0 && sampled)
            sampled(queued);
        if (queued == HttpNativeSocket::OutputQueueUnknown || queued == 0)
            return true;
        if (queued == HttpNativeSocket::OutputQueueFailed || stalled.hasExpired()
                || QThread::currentThread()->isInterruptionRequested())
            break;
        if (unacknowledged < 0 || queued < unacknowledged)
            stalled.setRemainingTime(stallTimeout);
        unacknowledged = queued;
        QThread::msleep(acknowledgementPollMs);
    }
    socket->abort();
    return false;
}

bool HttpResponse::isConnected() const
{
    // A socket whose peer went away stays open for reading what is left, so the state counts.
    return socket->isOpen() && socket->state() == QAbstractSocket::ConnectedState;
}

void HttpResponse::setWriteStallTimeout(int milliseconds)
{
    stallTimeout = qMax(1, milliseconds);
}

void HttpResponse::sendHeaders()
{
    QByteArray buffer =
            "HTTP/1.1 " + QByteArray::number(statusCode) + ' ' + statusDescription + "\r\n";
    for (auto it = headerFields.cbegin(); it != headerFields.cend(); ++it)
        buffer += it.key() + ": " + it.value() + "\r\n";
    for (const HttpCookie &cookie : qAsConst(cookieFields))
        buffer += "Set-Cookie: " + cookie.toByteArray() + "\r\n";
    buffer += "\r\n";
    sendToSocket(buffer);
    flush();
    headersSent = true;
}

bool HttpResponse::sendToSocket(const QByteArray &data)
{
    const char *remaining = data.constData();
    qint64 remainingSize = data.size();
    while (remainingSize > 0 && isConnected()) {
        // Each wait returns as soon as anything was written, so the limit applies to the time
        // without progress, not to the whole transfer. A peer that stopped reading must not hold
        // this thread for ever.
        while (socket->bytesToWrite() > maxQueuedBytes) {
            if (!socket->waitForBytesWritten(stallTimeout)) {
                socket->abort();
                return false;
            }
        }
        if (sendsDirectly && socket->bytesToWrite() == 0) {
            // With nothing queued, the kernel takes the bytes at once; going through the socket's
            // buffer would cost the event loop a wake-up per block on every write.
            const qint64 sent = HttpNativeSocket::sendWithoutBlocking(
                    socket->socketDescriptor(), remaining, remainingSize);
            if (sent < 0) {
                socket->abort();
                return false;
            }
            remaining += sent;
            remainingSize -= sent;
            if (remainingSize == 0)
                break;
        }
        const qint64 written = socket->write(remaining, remainingSize);
        if (written < 0)
            return false;
        remaining += written;
        remainingSize -= written;
    }
    return true;
}

} // namespace quenmar
