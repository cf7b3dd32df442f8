#ifndef DEVICESIMULATOR_H
#define DEVICESIMULATOR_H

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>

class HttpDownload;
class QJsonObject;
class QNetworkDatagram;
class QUdpSocket;

// A simulated loudspeaker: answers discovery probes, accepts upgrade
// commands for its own serial number and downloads the named image over HTTP
// from the command's sender. Prints one line per event on standard output,
// after its label when it has one. Event-loop driven, on the thread that
// created it.
class DeviceSimulator : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        QString serial_number;
        QString version; // "ver" of the reply; left out when empty
        QString sound_version; // "snd" of the reply; left out when empty
        // Replies and HTTP connections leave from here; null: no own address.
        QHostAddress own_address;
        quint16 udp_port = 53;
        QString file_system_path = QStringLiteral("/minifs_rom.img");
        QString firmware_path = QStringLiteral("/firmware.bin");
        bool head_first = false;
        QString save_folder; // empty: downloads are counted, not stored
        QString label; // printed before each line, to tell devices apart; empty: none
        bool ignore_commands = false; // answer probes only
        qint64 read_rate = 0; // body bytes per second; 0: as fast as they come
        // The first download that reaches this many body bytes is cut
        // there; -1: none is.
        qint64 drop_after = -1;
        // How many downloads, one after the other, are cut so.
        int drops = 1;
        int reboot_ms = 0; // silence after a complete download, in ms
        QString version_after; // "ver" once back from that; empty: unchanged
        QByteArray expected_sha256; // of a complete body, 32 bytes; empty: not checked
    };

    explicit DeviceSimulator(const Settings &settings, QObject *parent = nullptr);

    // Whether the device needs the port's shared wildcard socket: broadcasts
    // reach only that. A loopback device has none to hear and stays off
    // real networks.
    bool hears_broadcasts() const;
    // Binds the socket of the device's own address, when it has one, and
    // prints the "listening" line. On failure returns false with a reason.
    bool start(QString *error);
    // A datagram that reached the device on socket; replies leave from the
    // device's own socket when it has one, from socket otherwise.
    void take_datagram(const QNetworkDatagram &datagram, QUdpSocket *socket);

signals:
    // An upgrade is over: the download ended (apart from a deliberate drop)
    // and, after a complete one, the simulated reboot too. success: complete
    // and, when checked, the right SHA-256.
    void upgrade_over(bool success);

private:
    void answer_probe(QUdpSocket *socket, const QHostAddress &sender, quint16 sender_port);
    void take_command(const QJsonObject &command, const QHostAddress &sender);
    void run_request(const QByteArray &method);
    void request_finished(HttpDownload *download);
    void download_complete(HttpDownload *download);
    void end_download(const QString &outcome);
    void come_back();
    void print(const QString &line) const;

    const Settings settings;
    QUdpSocket *own_socket = nullptr;
    QString version; // "ver" now: changes when an upgrade brings a new one
    // Downloads still to be cut.
    int drops_left = 0;
    bool rebooting = false;
    QTimer reboot_timer;
    // Where the running download comes from; null host while idle.
    QHostAddress server_host;
    quint16 server_port = 0;
    QString image_path;
};

#endif // DEVICESIMULATOR_H
