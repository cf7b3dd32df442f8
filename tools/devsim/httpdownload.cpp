#include "httpdownload.h"

#include <QSaveFile>
#include <QUrl>

HttpDownload::HttpDownload(const QByteArray &method, const QHostAddress &host, quint16 port,
        const QString &path, const QString &save_path, QObject *parent)
    : QObject(parent), method(method), host(host), port(port), path(path), save_path(save_path)
{
    idle_timer.setSingleShot(true);
    idle_timer.setInterval(idle_timeout_ms);
    connect(&idle_timer, &QTimer::timeout, this, [this] { finish(QStringLiteral("timed out")); });
    connect(&socket, &QTcpSocket::connected, this, &HttpDownload::send_request);
    connect(&socket, &QTcpSocket::readyRead, this, &HttpDownload::read_available);
    connect(&socket, &QTcpSocket::disconnected, this, [this] { finish(); });
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
    idle_timer.start();
    socket.connectToHost(host, port);
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
    idle_timer.start();
    QByteArray bytes = socket.readAll();
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
    if (method != "HEAD" && status == 200 && !save_path.isEmpty()) {
        file = std::make_unique<QSaveFile>(save_path);
        if (!file->open(QIODevice::WriteOnly)) {
            finish(QStringLiteral("cannot write %1: %2").arg(save_path, file->errorString()));
            return false;
        }
    }
    return true;
}

// Bytes past "Content-Length" are not part of the body and are dropped.
void HttpDownload::take_body(const QByteArray &bytes)
{
    qint64 wanted = bytes.size();
    if (outcome.content_length >= 0)
        wanted = qMin(wanted, outcome.content_length - outcome.bytes);
    if (wanted <= 0 && outcome.content_length < 0)
        return;
    if (file && wanted > 0 && file->write(bytes.constData(), wanted) != wanted) {
        finish(QStringLiteral("cannot write %1: %2").arg(save_path, file->errorString()));
        return;
    }
    outcome.bytes += wanted;
    if (outcome.content_length < 0 && outcome.bytes > max_body_size) {
        finish(QStringLiteral("body over %1 bytes").arg(max_body_size));
        return;
    }
    if (outcome.content_length >= 0 && outcome.bytes == outcome.content_length)
        finish();
}

void HttpDownload::finish(const QString &error)
{
    if (done)
        return;
    done = true;
    idle_timer.stop();
    if (!error.isEmpty())
        outcome.error = error;
    else if (!outcome.head_complete)
        outcome.error = QStringLiteral("connection closed before the response head");
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
