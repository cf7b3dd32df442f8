#ifndef HTTPDOWNLOAD_H
#define HTTPDOWNLOAD_H

#include <QByteArray>
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

    struct Result
    {
        bool head_complete = false; // a status line and headers were read
        int status = 0;
        qint64 content_length = -1; // -1 when the response had none
        qint64 bytes = 0; // body bytes read (never more than content_length)
        bool saved = false; // the body was written to the save path
        QString error; // why the exchange failed; empty otherwise
        // A GET is complete when it got 200 with a known length and every body byte.
        bool complete() const
        {
            return error.isEmpty() && status == 200 && content_length >= 0
                    && bytes == content_length;
        }
    };

    HttpDownload(const QByteArray &method, const QHostAddress &host, quint16 port,
            const QString &path, const QString &save_path, QObject *parent = nullptr);
    ~HttpDownload() override;

    void start();
    const Result &result() const { return outcome; }
    const QByteArray &request_method() const { return method; }
    const QString &save_file() const { return save_path; }
    QString url() const;

signals:
    // Emitted once, when the exchange is over for any reason.
    void finished();

private:
    void send_request();
    void read_available();
    bool parse_head(const QByteArray &head);
    void take_body(const QByteArray &bytes);
    void finish(const QString &error = QString());

    const QByteArray method;
    const QHostAddress host;
    const quint16 port;
    const QString path;
    const QString save_path;
    QTcpSocket socket;
    QTimer idle_timer;
    QByteArray head_buffer;
    std::unique_ptr<QSaveFile> file;
    Result outcome;
    bool done = false;
};

#endif // HTTPDOWNLOAD_H
