#ifndef DOWNLOADOBSERVER_H
#define DOWNLOADOBSERVER_H

#include <QByteArray>
#include <QHostAddress>
#include <QMetaType>
#include <QString>

// One request the upgrade file service answered, or a download under way.
struct DownloadReport
{
    enum class Outcome {
        InProgress, // a GET is still sending
        // The file was sent whole and the peer's TCP stack acknowledged every byte, where the
        // system tells (for HEAD: its headers were sent).
        Complete,
        // The download ended before its last byte, or the peer stopped taking the rest of it.
        Interrupted,
        NotFound, // no such regular file in the served folder
        // A path leaving the served folder or naming a Windows device or stream, or a method
        // that fetches nothing (POST).
        Refused,
    };

    // Connections to a dual-stack listener show IPv4 peers in their
    // IPv4-mapped IPv6 form (::ffff:198.18.0.2); reports carry the plain
    // IPv4 form, as devices are known by it.
    static QHostAddress plain_address(const QHostAddress &address)
    {
        bool is_ipv4 = false;
        const quint32 ipv4 = address.toIPv4Address(&is_ipv4);
        return is_ipv4 ? QHostAddress(ipv4) : address;
    }

    QHostAddress peer;
    QByteArray method;
    // The decoded request path as text, e.g. "/minifs_rom.img".
    QString path;
    // Body bytes handed to the socket so far.
    quint64 bytes_sent = 0;
    // Of those, the bytes the peer's TCP stack had acknowledged when the report was made: what
    // the device has. -1 where the system cannot tell (HttpNativeSocket::unacknowledgedBytes).
    qint64 bytes_acknowledged = -1;
    // Size of the file in bytes; -1 when no file was opened.
    qint64 file_size = -1;
    Outcome outcome = Outcome::InProgress;
};
Q_DECLARE_METATYPE(DownloadReport)

// Told about the file service's requests. Called on the HTTP connection
// threads, several at once: implementations must be thread-safe, return
// quickly and never add or remove observers from inside a call.
class DownloadObserver
{
public:
    virtual ~DownloadObserver() = default;

    // A GET of an existing file: once when it starts (bytes_sent 0), then
    // whenever its whole percentage of the file sent or acknowledged
    // changed, also while the last bytes wait for their acknowledgement.
    // Outcome InProgress.
    virtual void download_progress(const DownloadReport &) { }
    // Every answered request, once, with its final outcome.
    virtual void request_answered(const DownloadReport &report) = 0;
};

#endif // DOWNLOADOBSERVER_H
