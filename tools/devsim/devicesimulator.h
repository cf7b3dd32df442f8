#ifndef DEVICESIMULATOR_H
#define DEVICESIMULATOR_H

#include <QHostAddress>
#include <QObject>
#include <QString>

class HttpDownload;
class QJsonObject;
class QUdpSocket;

// A simulated loudspeaker: answers discovery probes, accepts upgrade
// commands for its own serial number and downloads the named image over HTTP
// from the command's sender. Prints one line per event on standard output.
// Event-loop driven, on the thread that created it.
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString serial_number;
        QString version; // "ver" of the reply; left out when empty
        QString sound_version; // "snd" of the reply; left out when empty
        QHostAddress own_address; // replies leave from here; null: no own address
        quint16 udp_port = 53;
        QString file_system_path = QStringLiteral("/minifs_rom.img");
        QString firmware_path = QStringLiteral("/firmware.bin");
        bool head_first = false;
        QString save_folder; // empty: downloads are counted, not stored
    };

    // Largest datagram read; probes and commands are far shorter.
    static constexpr int max_datagram_size = 65536;

    explicit DeviceSimulator(const Settings &settings, QObject *parent = nullptr);

    // Binds the UDP sockets; on failure returns false with a reason in error.
    bool start(QString *error);

signals:
    // A download is over; complete: status 200 and every body byte arrived.
    void download_finished(bool complete);

private:
    QUdpSocket *bind_socket(const QHostAddress &address, QString *error);
    void read_datagrams(QUdpSocket *socket);
    void answer_probe(const QHostAddress &sender, quint16 sender_port);
    void take_command(const QJsonObject &command, const QHostAddress &sender);
    void run_request(const QByteArray &method);
    void request_finished(HttpDownload *download);
    void end_download(const QString &outcome, bool complete);
    void print(const QString &line);

    const Settings settings;
    QUdpSocket *listen_socket = nullptr;
    QUdpSocket *reply_socket = nullptr;
    // Where the running download comes from; null host while idle.
    QHostAddress server_host;
    quint16 server_port = 0;
    QString image_path;
};

#endif // DEVICESIMULATOR_H
