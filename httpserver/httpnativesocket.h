#ifndef QUENMAR_HTTPNATIVESOCKET_H
#define QUENMAR_HTTPNATIVESOCKET_H

// Plain system calls on a socket descriptor; safe from any thread.

#include <QHostAddress>
#include <QtGlobal>

namespace quenmar {

// The few socket operations Qt 5 does not offer: half-closing a connection, waking a thread that is
// blocked on a socket, closing or answering a descriptor no socket object owns, its peer's address,
// a larger listen backlog, how much of the output the peer has not acknowledged yet, and how many
// bytes the connection has moved.
// Each returns true on success; failures change nothing and are left to the caller to log.
namespace HttpNativeSocket {

// Sends FIN after the queued output; the peer reads the end of the stream while this side can
// still read (and discard) what the peer sends.
bool shutdownSending(qintptr descriptor);

// Ends both directions: a thread blocked reading or writing on the descriptor wakes with an
// error. The descriptor stays open and owned by its socket object.
bool shutdownBoth(qintptr descriptor);

// Closes a descriptor that no socket object adopted.
bool closeDescriptor(qintptr descriptor);

// Sends what the kernel takes at once without blocking. Returns the bytes sent (0 when the
// socket buffer is full, or where this is not supported), or -1 when the connection failed.
qint64 sendWithoutBlocking(qintptr descriptor, const char *data, qint64 size);

// Results of sendFileWithoutBlocking() besides a byte count.
enum FileSendResult : qint64 {
    FileSendFailed = -1, // the connection failed
    FileSendWouldBlock = -2, // the socket buffer is full
    FileSendUnsupported = -3, // not here, or not for this file: reading it tells why
};

// Sends up to size bytes of the file fileDescriptor, from offset, as far as the kernel takes them
// at once, without blocking and without copying them through the process (sendfile). The file's
// own position does not move. Returns the bytes sent (fewer when the socket buffer fills or the
// file ends; 0 at its end) or a FileSendResult. Blocks SIGPIPE in the calling thread for good.
qint64 sendFileWithoutBlocking(qintptr descriptor, int fileDescriptor, qint64 offset, qint64 size);

// Sets the accept queue length of a listening socket again (the system caps it at its own limit).
bool setListenBacklog(qintptr descriptor, int backlog);

// Answers a connection no socket object adopted and closes it at once, holding nothing further:
// what the peer has sent so far is read and dropped (so the close does not reset the connection
// before the peer reads), the answer is sent without blocking, then the descriptor is closed.
// Returns false when the answer could not be sent whole; the descriptor is closed either way.
bool answerAndClose(qintptr descriptor, const char *answer, qint64 size);

// The address of the peer of a connected socket, with an IPv4 address mapped into IPv6 given as
// IPv4; a null address when the system cannot tell (the peer is already gone).
QHostAddress peerAddress(qintptr descriptor);

// Results of unacknowledgedBytes() besides a byte count.
enum OutputQueueResult : qint64 {
    OutputQueueUnknown = -1, // the system cannot tell here
    OutputQueueFailed = -2, // the connection was reset or closed
};

// Bytes of the connection's output that the peer's TCP stack has not acknowledged yet, the unsent
// ones included (Linux: SIOCOUTQ); 0 once the peer has everything. On Windows 10 1703 and later
// (SIO_TCP_INFO) the bytes in flight, or 1 while the peer's window is shut with nothing in
// flight; older Windows (and wine) cannot tell. Or an OutputQueueResult.
qint64 unacknowledgedBytes(qintptr descriptor);

// Results of transferredBytes() besides a byte count.
enum TransferredBytesResult : qint64 {
    TransferredNoConnection = -1, // the descriptor is no connection (any more)
    TransferredUnknown = -2, // the system cannot tell for any connection
};

// Bytes the connection has moved so far: received from the peer, plus sent and acknowledged by
// it (Linux 4.1 and later: TCP_INFO; Windows 10 1703 and later: SIO_TCP_INFO, sent bytes less
// those in flight). Or a TransferredBytesResult.
qint64 transferredBytes(qintptr descriptor);

} // namespace HttpNativeSocket

} // namespace quenmar

#endif // QUENMAR_HTTPNATIVESOCKET_H
