#include "httpdownload.h"

#include <QSaveFile>
#include <QUrl>

namespace {

// Bounds of the socket buffers of a rate-limited download, in bytes: big
// enough for one read tick at the rate, small enough that the server's
// writes stall at once when the device reads slowly.
constexpr qint64 min_read_buffer = 4096;
constexpr qint64 max_read_buffer = 65536;

} // namespace

HttpDownload::HttpDownload(const QByteArray &method, const QHostAddress &host, quint16 port,
        const QString &path, const Options &options, QObject *parent)
    : QObject(parent), method(method), host(host), port(port), path(path), options(options)
{
    idle_timer.setSingleShot(true);
    idle_timer.setInterval(idle_timeout_ms);
    connect(&idle_timer, &QTimer::timeout, this, [this] { finish(QStringLiteral("timed out")); });
    connect(&read_timer, &QTimer::timeout, this, &HttpDownload::tick);
    connect(&socket, &QTcpSocket::connected, this, &HttpDownload::send_request);
    connect(&socket, &QTcpSocket::readyRead, this, &HttpDownload::read_available);
    connect(&socket, &QTcpSocket::disconnected, this, &HttpDownload::peer_closed);
    connect(&socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        // The server closing after its response is the normal end.
        if (e != QAbstractSocket::RemoteHostClosedError)
            finish(socket.errorString());
    });
}

HttpDownload::~HttpDownload() = default;

QString HttpDownload::url() const
{
    return QStringLiteral("http://%1:%2%3").arg(host.toString()).arg(port).arg(path);
}

void HttpDownload::start()
{
    clock.start();
    idle_timer.start();
    // Binding first picks the device's own source address, by which the
    // server tells devices apart, and gives the socket a descriptor whose
    // receive buffer can be limited before the connection opens its window.
    if (!options.local_address.isNull() || options.read_rate > 0) {
        const QHostAddress local = options.local_address.isNull()
                ? QHostAddress(QHostAddress::AnyIPv4)
                : options.local_address;
        if (!socket.bind(local, 0)) {
            finish(QStringLiteral("cannot bind %1: %2")
                            .arg(local.toString(), socket.errorString()));
            return;
        }
    }
    if (options.read_rate > 0)
        limit_reading();
    socket.connectToHost(host, port);
}

// Qt stops reading from the kernel while its own buffer is full, the small
// kernel buffer then closes the TCP window: the server sees the device's
// pace, as it would with a slow device.
void HttpDownload::limit_reading()
{
    const qint64 share =
            qBound(min_read_buffer, options.read_rate * read_tick_ms / 1000, max_read_buffer);
    socket.setReadBufferSize(share);
    socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, int(share));
    read_timer.start(read_tick_ms);
}

void HttpDownload::send_request()
{
    idle_timer.start();
    const QByteArray target = QUrl(path).toEncoded(QUrl::FullyEncoded);
    socket.write(method + ' ' + target + " HTTP/1.1\r\nHost: " + host.toString().toLatin1() + ':'
            + QByteArray::number(port) + "\r\nConnection: close\r\n\r\n");
}

void HttpDownload::read_available()
{
    if (done)
        return;
    qint64 allowed = socket.bytesAvailable();
    if (options.read_rate > 0)
        allowed = qMin(allowed, options.read_rate * clock.elapsed() / 1000 - bytes_read);
    if (allowed > 0) {
        idle_timer.start();
        QByteArray bytes = socket.read(allowed);
        bytes_read += bytes.size();
        if (!outcome.head_complete) {
            head_buffer += bytes;
            const int end = head_buffer.indexOf("\r\n\r\n");
            if (end < 0) {
                if (head_buffer.size() > max_head_size)
                    finish(QStringLiteral("response head too long"));
                return;
            }
            if (end + 4 > max_head_size) {
                finish(QStringLiteral("response head too long"));
                return;
            }
            bytes = head_buffer.mid(end + 4);
            if (!parse_head(head_buffer.left(end)))
                return;
            head_buffer.clear();
            if (method == "HEAD") {
                finish();
                return;
            }
        }
        take_body(bytes);
    }
    // Bytes the rate held back are still to be read after the server closed.
    if (!done && closed_by_peer && socket.bytesAvailable() == 0)
        finish();
}

void HttpDownload::tick()
{
    read_available();
    const qint64 elapsed = clock.elapsed();
    if (done || elapsed < next_progress_ms)
        return;
    next_progress_ms = (elapsed / progress_interval_ms + 1) * progress_interval_ms;
    emit progress(outcome.bytes, outcome.content_length, elapsed);
}

void HttpDownload::peer_closed()
{
    closed_by_peer = true;
    read_available();
}

bool HttpDownload::parse_head(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> status_line = lines.first().trimmed().split(' ');
    bool number = false;
    const int status = status_line.value(1).toInt(&number);
    if (!status_line.first().startsWith("HTTP/1.") || !number || status < 100 || status > 999) {
        finish(QStringLiteral("malformed status line"));
        return false;
    }
    outcome.status = status;
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon <= 0 || lines[i].left(colon).trimmed().toLower() != "content-length")
            continue;
        bool valid = false;
        const qint64 length = lines[i].mid(colon + 1).trimmed().toLongLong(&valid);
        if (!valid || length < 0
                || (outcome.content_length >= 0 && length != outcome.content_length)) {
            finish(QStringLiteral("bad Content-Length"));
            return false;
        }
        outcome.content_length = length;
    }
    outcome.head_complete = true;
    if (outcome.content_length > max_body_size) {
        finish(QStringLiteral("Content-Length over %1 bytes").arg(max_body_size));
        return false;
    }
    if (method != "HEAD" && status == 200 && !options.save_path.isEmpty()) {
        file = std::make_unique<QSaveFile>(options.save_path);
        if (!file->open(QIODevice::WriteOnly)) {
            finish(QStringLiteral("cannot write %1: %2")
                            .arg(options.save_path, file->errorString()));
            return false;
        }
    }
    return true;
}

// Bytes past "Content-Length" are not part of the body and are dropped.
void HttpDownload::take_body(const QByteArray &bytes)
{
    const qint64 length = outcome.content_length;
    qint64 wanted = bytes.size();
    if (length >= 0)
        wanted = qMin(wanted, length - outcome.bytes);
    const qint64 drop_after = options.drop_after;
    const bool cut = drop_after >= 0 && outcome.bytes + wanted >= drop_after
            && (length < 0 || drop_after < length);
    if (cut)
        wanted = drop_after - outcome.bytes;
    if (wanted > 0) {
        if (file && file->write(bytes.constData(), wanted) != wanted) {
            finish(QStringLiteral("cannot write %1: %2")
                            .arg(options.save_path, file->errorString()));
            return;
        }
        if (options.hash_body)
            hash.addData(bytes.constData(), int(wanted));
        outcome.bytes += wanted;
    }
    if (cut) {
        outcome.dropped = true;
        finish(QStringLiteral("closed on purpose after %1 body bytes").arg(outcome.bytes));
    } else if (length < 0 && outcome.bytes > max_body_size) {
        finish(QStringLiteral("body over %1 bytes").arg(max_body_size));
    } else if (length >= 0 && outcome.bytes == length) {
        finish();
    }
}

void HttpDownload::finish(const QString &error)
{
    if (done)
        return;
    done = true;
    idle_timer.stop();
    read_timer.stop();
    outcome.elapsed_ms = clock.elapsed();
    if (!error.isEmpty())
        outcome.error = error;
    else if (!outcome.head_complete)
        outcome.error = QStringLiteral("connection closed before the response head");
    if (outcome.complete() && options.hash_body)
        outcome.sha256 = hash.result();
    if (file) {
        if (outcome.complete())
            outcome.saved = file->commit();
        else
            file->cancelWriting();
        file.reset();
    }
    socket.abort();
    emit finished();
}
