#ifndef HTTPDOWNLOAD_H
#define HTTPDOWNLOAD_H

#include <QByteArray>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

class QSaveFile;

// One HTTP/1.1 request of the simulated device, on a connection of its own
// (the server closes it after each response). A GET reads the body up to
// "Content-Length" and, when a save path is given and the status is 200,
// stores it; the file appears only when the body was complete. Event-loop
// driven; lives on the thread that created it.
class HttpDownload : public QObject
{
    Q_OBJECT

public:
    // Longest response head accepted, in bytes.
    static constexpr int max_head_size = 16384;
    // Largest image accepted, in bytes: more than a device's flash holds.
    static constexpr qint64 max_body_size = 256 * 1024 * 1024;
    // Time the server may stay silent before the request is given up, in ms.
    static constexpr int idle_timeout_ms = 15000;
    // How often a rate-limited download takes its share of bytes, in ms.
    static constexpr int read_tick_ms = 50;
    // How often a rate-limited download reports its progress, in ms.
    static constexpr int progress_interval_ms = 1000;

    struct Options
    {
        QHostAddress local_address; // the connection leaves from here; null: any
        QString save_path; // empty: the body is counted, not stored
        // Bytes read per second; 0: as fast as they come. The socket's
        // buffers are kept small, so the server feels the limit.
        qint64 read_rate = 0;
        // Close the connection once this many body bytes arrived, if the
        // body is longer; -1: never.
        qint64 drop_after = -1;
        bool hash_body = false; // compute the SHA-256 of the body
    };

    struct Result
    {
        bool head_complete = false; // a status line and headers were read
        int status = 0;
        qint64 content_length = -1; // -1 when the response had none
        qint64 bytes = 0; // body bytes read (never more than content_length)
        qint64 elapsed_ms = 0; // from start() to the end
        bool saved = false; // the body was written to the save path
        bool dropped = false; // closed on purpose after Options::drop_after bytes
        QByteArray sha256; // of a complete body, when Options::hash_body
        QString error; // why the exchange failed; empty otherwise
        // A GET is complete when it got 200 with a known length and every body byte.
        bool complete() const
        {
            return error.isEmpty() && status == 200 && content_length >= 0
                    && bytes == content_length;
        }
    };

    HttpDownload(const QByteArray &method, const QHostAddress &host, quint16 port,
            const QString &path, const Options &options, QObject *parent = nullptr);
    ~HttpDownload() override;

    void start();
    const Result &result() const { return outcome; }
    const QByteArray &request_method() const { return method; }
    const QString &save_file() const { return options.save_path; }
    QString url() const;

signals:
    // A rate-limited download's body bytes so far, every progress_interval_ms.
    void progress(qint64 bytes, qint64 content_length, qint64 elapsed_ms);
    // Emitted once, when the exchange is over for any reason.
    void finished();

private:
    void limit_reading();
    void send_request();
    void read_available();
    void tick();
    void peer_closed();
    bool parse_head(const QByteArray &head);
    void take_body(const QByteArray &bytes);
    void finish(const QString &error = QString());

    const QByteArray method;
    const QHostAddress host;
    const quint16 port;
    const QString path;
    const Options options;
    QTcpSocket socket;
    QTimer idle_timer;
    QTimer read_timer;
    QElapsedTimer clock;
    qint64 bytes_read = 0; // head and body, for the rate limit
    qint64 next_progress_ms = progress_interval_ms;
    bool closed_by_peer = false;
    QByteArray head_buffer;
    std::unique_ptr<QSaveFile> file;
    QCryptographicHash hash{ QCryptographicHash::Sha256 };
    Result outcome;
    bool done = false;
};

#endif // HTTPDOWNLOAD_H
