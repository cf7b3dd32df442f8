#ifndef QUENMAR_HTTPRESPONSE_H
#define QUENMAR_HTTPRESPONSE_H

// Used only on the thread of the connection handler that owns the socket.

#include "httpcookie.h"

#include <QByteArray>
#include <QMap>

#include <functional>

class QFileDevice;
class QTcpSocket;

namespace quenmar {

// Writes one HTTP/1.1 response onto a connected socket: status line, headers (sorted by the byte
// value of the name), cookies, then the body in one or more parts.
//
// Body framing is decided at the first write():
//   - write(data, true) as the first call: "Content-Length" is set to the size of data;
//   - write(data, false) with a "Connection: close" header (any case): no framing, the body
//     ends when the connection closes;
//   - write(data, false) otherwise: "Transfer-Encoding: chunked".
// Status, headers and cookies changed after the first write() do not reach the wire. Do not call
// write() after the last part.
//
// Output waits while more than 16384 bytes are queued in the socket. When nothing of the queue
// can be written for writeStallTimeout() milliseconds (30000 by default; tests may lower it with
// setWriteStallTimeout()) or the socket reports an error, the connection is aborted: unsent output
// is dropped, later writes do nothing and isConnected() returns false.
class HttpResponse
{
public:
    // Longest wait without any write progress before the connection is aborted, in milliseconds.
    static constexpr int defaultWriteStallTimeout = 30000;

    // The socket is not owned and must outlive the response.
    explicit HttpResponse(QTcpSocket *socket);

    HttpResponse(const HttpResponse &) = delete;
    HttpResponse &operator=(const HttpResponse &) = delete;

    // Sets or replaces a header; names are case-sensitive keys.
    void setHeader(const QByteArray &name, const QByteArray &value);
    // Same, the value written in decimal.
    void setHeader(const QByteArray &name, int value);
    // All headers, for reading and changing them directly.
    QMap<QByteArray, QByteArray> &headerMap() { return headerFields; }

    // Replaces status code (200 by default) and reason phrase ("OK" by default).
    void setStatus(int statusCode, const QByteArray &description);
    int getStatusCode() const { return statusCode; }

    // Sends the headers at the first call, then data (as a chunk in chunked mode). With lastPart
    // the response is finished: the last chunk goes out and the socket is flushed.
    void write(const QByteArray &data, bool lastPart = false);
    // Sends size bytes of file from offset as body data, like write() of those bytes with lastPart
    // false. On plain TCP, without chunks and while nothing is queued, what the socket takes at
    // once goes from file to socket inside the kernel (sendfile); the rest is read and written as
    // usual. The file's position is left undefined. Returns the bytes of the file
    // taken: fewer than size when the file ended or could not be read, or the connection ended.
    qint64 writeFile(QFileDevice &file, qint64 offset, qint64 size);
    // True once write() was called with lastPart.
    bool lastPartSent() const { return lastPartDone; }

    // Sets or replaces the cookie of that name; a cookie with an empty name is ignored.
    void setCookie(const HttpCookie &cookie);
    QMap<QByteArray, HttpCookie> &cookieMap() { return cookieFields; }

    // Answers 303 "See Other" with "Location: url" and the body "Redirect" as the last part.
    void redirect(const QByteArray &url);

    // Hands queued output to the operating system without waiting.
    void flush();
    // Waits until the peer's TCP stack has acknowledged every byte written so far: the socket's own
    // queue is written and the system's send queue is empty, which can take seconds for a slow
    // peer, whose buffers hold hundreds of KiB. The stall rule applies: when the queue does not
    // shrink for writeStallTimeout() ms, the connection fails or the thread is asked to stop, the
    // connection is aborted and false is returned. Where the system cannot tell its send queue,
    // returns once the socket's own queue is handed over. sampled, when given, is called with
    // each count of the system's queue looked at (0 last, on success), for progress.
    bool waitUntilAcknowledged(const std::function<void(qint64 unacknowledged)> &sampled = {});
    // Bytes written so far that the peer's TCP stack has not acknowledged yet: those queued in
    // the socket and those in the system's send queue (HttpNativeSocket::unacknowledgedBytes).
    // -1 where the system cannot tell, or once the connection has ended.
    qint64 unacknowledgedBytes() const;
    // True while the socket is open and connected; false after the peer went away or a stalled
    // write aborted the connection.
    bool isConnected() const;

    // Milliseconds without write progress after which the connection is aborted; values below 1
    // are taken as 1.
    void setWriteStallTimeout(int milliseconds);
    int writeStallTimeout() const { return stallTimeout; }

private:
    // Decides the body's framing and sends status line and headers (see write()).
    void startBody(const QByteArray &data, bool lastPart);
    void sendHeaders();
    // Returns false when the socket reported an error or stalled (and was then aborted); true
    // when everything was handed over or the connection had already ended.
    bool sendToSocket(const QByteArray &data);
    // Output still in the socket's own queue, encrypted bytes included.
    qint64 queuedInSocket() const;

    QMap<QByteArray, QByteArray> headerFields;
    QTcpSocket *socket;
    int statusCode = 200;
    QByteArray statusDescription = "OK";
    bool headersSent = false;
    bool lastPartDone = false;
    bool chunked = false;
    QMap<QByteArray, HttpCookie> cookieFields;
    int stallTimeout = defaultWriteStallTimeout;
    // Plain TCP output may bypass the socket's buffer; TLS output must go through the socket.
    bool sendsDirectly;
    // Holds the part of a file block that is read rather than sent from the file.
    QByteArray fileBuffer;
};

} // namespace quenmar

#endif // QUENMAR_HTTPRESPONSE_H
