#include "devicesimulator.h"
#include "deviceport.h"
#include "eventline.h"
#include "httpdownload.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QUdpSocket>

namespace {

// "type" of the discovery probe.
const char probe_type[] = "hellotavirex";

QString progress_line(qint64 bytes, qint64 content_length, qint64 elapsed_ms)
{
    return QStringLiteral("progress %1 of %2 bytes after %3 ms")
            .arg(bytes)
            .arg(content_length < 0 ? QStringLiteral("unknown") : QString::number(content_length))
            .arg(elapsed_ms);
}

} // namespace

DeviceSimulator::DeviceSimulator(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings), version(settings.version),
      drops_left(settings.drop_after >= 0 ? settings.drops : 0)
{
    reboot_timer.setSingleShot(true);
    connect(&reboot_timer, &QTimer::timeout, this, &DeviceSimulator::come_back);
}

bool DeviceSimulator::hears_broadcasts() const
{
    return settings.own_address.isNull() || !settings.own_address.isLoopback();
}

bool DeviceSimulator::start(QString *error)
{
    const QHostAddress own = settings.own_address;
    if (!own.isNull()) {
        own_socket = bind_device_port(own, settings.udp_port, this, error);
        if (!own_socket)
            return false;
        on_datagrams(
                own_socket, this, [this, socket = own_socket](const QNetworkDatagram &datagram) {
                    take_datagram(datagram, socket);
                });
    }
    const QHostAddress listening = hears_broadcasts() ? QHostAddress(QHostAddress::AnyIPv4) : own;
    print(QStringLiteral("listening on %1:%2, replies from %3, sn %4")
                    .arg(listening.toString())
                    .arg(settings.udp_port)
                    .arg(own.isNull() ? QStringLiteral("any address") : own.toString(),
                            settings.serial_number));
    return true;
}

void DeviceSimulator::take_datagram(const QNetworkDatagram &datagram, QUdpSocket *socket)
{
    const QHostAddress sender = datagram.senderAddress();
    const quint16 sender_port = quint16(datagram.senderPort());
    const QJsonObject object = QJsonDocument::fromJson(datagram.data()).object();
    const QString type = object.value(QStringLiteral("type")).toString();
    if (type == QLatin1String(probe_type)) {
        const QString line =
                QStringLiteral("probe from %1:%2").arg(sender.toString()).arg(sender_port);
        if (rebooting) {
            print(line + QStringLiteral(" ignored, rebooting"));
            return;
        }
        print(line);
        answer_probe(own_socket ? own_socket : socket, sender, sender_port);
    } else if (object.contains(QStringLiteral("sn"))) {
        take_command(object, sender);
    } else {
        print(QStringLiteral("ignored datagram of %1 bytes from %2:%3")
                        .arg(datagram.data().size())
                        .arg(sender.toString())
                        .arg(sender_port));
    }
}

void DeviceSimulator::answer_probe(
        QUdpSocket *socket, const QHostAddress &sender, quint16 sender_port)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("sn"), settings.serial_number);
    if (!version.isEmpty())
        reply.insert(QStringLiteral("ver"), version);
    if (!settings.sound_version.isEmpty())
        reply.insert(QStringLiteral("snd"), settings.sound_version);
    const QByteArray bytes = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    const bool sent = socket->writeDatagram(bytes, sender, sender_port) == bytes.size();
    print(QStringLiteral("reply to %1:%2 %3%4")
                    .arg(sender.toString())
                    .arg(sender_port)
                    .arg(QString::fromUtf8(bytes), sent ? QString() : QStringLiteral(" failed")));
}

void DeviceSimulator::take_command(const QJsonObject &command, const QHostAddress &sender)
{
    const QString type = command.value(QStringLiteral("type")).toString();
    const QString serial_number = command.value(QStringLiteral("sn")).toString();
    const int port = command.value(QStringLiteral("port")).toInt(-1);
    const QString line = QStringLiteral("command type=%1 sn=%2 port=%3 from %4")
                                 .arg(type, serial_number)
                                 .arg(port)
                                 .arg(sender.toString());
    QString refusal;
    if (serial_number != settings.serial_number)
        refusal = QStringLiteral("not my sn");
    else if (settings.ignore_commands)
        refusal = QStringLiteral("--ignore-commands");
    else if (type != QLatin1String("update") && type != QLatin1String("fs"))
        refusal = QStringLiteral("unknown type");
    else if (port < 1 || port > 65535)
        refusal = QStringLiteral("bad port");
    else if (rebooting)
        refusal = QStringLiteral("rebooting");
    else if (!server_host.isNull())
        refusal = QStringLiteral("busy");
    if (!refusal.isEmpty()) {
        print(line + QStringLiteral(": ignored, ") + refusal);
        return;
    }
    print(line);
    server_host = sender;
    server_port = quint16(port);
    image_path =
            type == QLatin1String("update") ? settings.firmware_path : settings.file_system_path;
    run_request(settings.head_first ? QByteArrayLiteral("HEAD") : QByteArrayLiteral("GET"));
}

void DeviceSimulator::run_request(const QByteArray &method)
{
    HttpDownload::Options options;
    options.local_address = settings.own_address;
    options.read_rate = settings.read_rate;
    if (method == "GET") {
        if (!settings.save_folder.isEmpty()) {
            QString name = QFileInfo(image_path).fileName();
            if (name.isEmpty())
                name = QStringLiteral("download");
            options.save_path = QDir(settings.save_folder).filePath(name);
        }
        if (drops_left > 0)
            options.drop_after = settings.drop_after;
        options.hash_body = !settings.expected_sha256.isEmpty();
    }
    auto *download = new HttpDownload(method, server_host, server_port, image_path, options, this);
    connect(download, &HttpDownload::finished, this,
            [this, download] { request_finished(download); });
    connect(download, &HttpDownload::progress, this,
            [this](qint64 bytes, qint64 content_length, qint64 elapsed_ms) {
                print(progress_line(bytes, content_length, elapsed_ms));
            });
    print(QStringLiteral("http %1 %2").arg(QString::fromLatin1(method), download->url()));
    download->start();
}

void DeviceSimulator::request_finished(HttpDownload *download)
{
    download->deleteLater();
    const HttpDownload::Result &result = download->result();
    const QByteArray method = download->request_method();
    if (result.head_complete) {
        const QString length = result.content_length < 0 ? QStringLiteral("none")
                                                         : QString::number(result.content_length);
        print(QStringLiteral("http %1 status %2 content-length %3%4")
                        .arg(QString::fromLatin1(method))
                        .arg(result.status)
                        .arg(length,
                                method == "HEAD" ? QString()
                                                 : QStringLiteral(" bytes %1").arg(result.bytes)));
    }
    if (method == "GET" && settings.read_rate > 0)
        print(progress_line(result.bytes, result.content_length, result.elapsed_ms));
    const QString length = result.content_length < 0 ? QStringLiteral("unknown")
                                                     : QString::number(result.content_length);
    if (result.dropped) {
        // A deliberate cut ends no upgrade: the next command is the retry.
        --drops_left;
        end_download(QStringLiteral("dropped, %1 of %2 bytes").arg(result.bytes).arg(length));
        return;
    }
    if (!result.error.isEmpty()) {
        end_download(QStringLiteral("failed: ") + result.error);
    } else if (result.status != 200) {
        end_download(QStringLiteral("failed: status %1").arg(result.status));
    } else if (method == "HEAD") {
        run_request(QByteArrayLiteral("GET"));
        return;
    } else if (!result.complete()) {
        end_download(QStringLiteral("incomplete, %1 of %2 bytes").arg(result.bytes).arg(length));
    } else {
        download_complete(download);
        return;
    }
    emit upgrade_over(false);
}

void DeviceSimulator::download_complete(HttpDownload *download)
{
    const HttpDownload::Result &result = download->result();
    if (result.saved)
        print(QStringLiteral("saved ") + download->save_file());
    end_download(QStringLiteral("complete, %1 bytes").arg(result.bytes));
    const QByteArray &expected = settings.expected_sha256;
    if (!expected.isEmpty()) {
        const QString received = QString::fromLatin1(result.sha256.toHex());
        if (result.sha256 != expected) {
            // A device refuses a corrupt image: no reboot, the version stays.
            print(QStringLiteral("verify mismatch, sha256 %1, expected %2")
                            .arg(received, QString::fromLatin1(expected.toHex())));
            emit upgrade_over(false);
            return;
        }
        print(QStringLiteral("verify ok, sha256 ") + received);
    }
    if (settings.reboot_ms > 0 || !settings.version_after.isEmpty()) {
        rebooting = true;
        print(QStringLiteral("rebooting for %1 s").arg(settings.reboot_ms / 1000.0));
        reboot_timer.start(settings.reboot_ms);
        return;
    }
    emit upgrade_over(true);
}

void DeviceSimulator::end_download(const QString &outcome)
{
    print(QStringLiteral("result ") + outcome);
    server_host.clear();
}

void DeviceSimulator::come_back()
{
    rebooting = false;
    if (!settings.version_after.isEmpty())
        version = settings.version_after;
    print(version.isEmpty() ? QStringLiteral("back") : QStringLiteral("back, ver ") + version);
    emit upgrade_over(true);
}

void DeviceSimulator::print(const QString &line) const
{
    print_event(settings.label.isEmpty() ? line : settings.label + QStringLiteral(": ") + line);
}
