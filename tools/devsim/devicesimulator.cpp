#include "devicesimulator.h"
#include "httpdownload.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTextStream>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// "type" of the discovery probe.
const char probe_type[] = "hellotavirex";

} // namespace

DeviceSimulator::DeviceSimulator(const Settings &settings, QObject *parent)
    : QObject(parent), settings(settings)
{
}

bool DeviceSimulator::start(QString *error)
{
    // Broadcasts reach only sockets bound to the wildcard address, and
    // several simulators share the device port; replies must leave from the
    // device's own address, hence a second socket bound to it. On loopback
    // there are no broadcasts, and a test device stays off real networks.
    const QHostAddress own = settings.own_address;
    const bool loopback_only = !own.isNull() && own.isLoopback();
    listen_socket = bind_socket(loopback_only ? own : QHostAddress(QHostAddress::AnyIPv4), error);
    if (!listen_socket)
        return false;
    reply_socket = listen_socket;
    if (!own.isNull() && !loopback_only) {
        reply_socket = bind_socket(own, error);
        if (!reply_socket)
            return false;
    }
    print(QStringLiteral("listening on %1:%2, replies from %3, sn %4")
                    .arg(listen_socket->localAddress().toString())
                    .arg(settings.udp_port)
                    .arg(own.isNull() ? QStringLiteral("any address") : own.toString(),
                            settings.serial_number));
    return true;
}

QUdpSocket *DeviceSimulator::bind_socket(const QHostAddress &address, QString *error)
{
    const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (descriptor < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(settings.udp_port);
    local.sin_addr.s_addr = htonl(address.toIPv4Address());
    if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
            || ::setsockopt(descriptor, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0
            || ::bind(descriptor, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        *error = QStringLiteral("cannot bind %1:%2: %3")
                         .arg(address.toString())
                         .arg(settings.udp_port)
                         .arg(QString::fromLocal8Bit(std::strerror(errno)));
        ::close(descriptor);
        return nullptr;
    }
    auto *socket = new QUdpSocket(this);
    if (!socket->setSocketDescriptor(descriptor, QAbstractSocket::BoundState)) {
        *error = socket->errorString();
        ::close(descriptor);
        delete socket;
        return nullptr;
    }
    connect(socket, &QUdpSocket::readyRead, this, [this, socket] { read_datagrams(socket); });
    return socket;
}

void DeviceSimulator::read_datagrams(QUdpSocket *socket)
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket->receiveDatagram(max_datagram_size);
        if (!datagram.isValid())
            return;
        const QHostAddress sender = datagram.senderAddress();
        const quint16 sender_port = quint16(datagram.senderPort());
        const QJsonObject object = QJsonDocument::fromJson(datagram.data()).object();
        const QString type = object.value(QStringLiteral("type")).toString();
        if (type == QLatin1String(probe_type)) {
            print(QStringLiteral("probe from %1:%2").arg(sender.toString()).arg(sender_port));
            answer_probe(sender, sender_port);
        } else if (object.contains(QStringLiteral("sn"))) {
            take_command(object, sender);
        } else {
            print(QStringLiteral("ignored datagram of %1 bytes from %2:%3")
                            .arg(datagram.data().size())
                            .arg(sender.toString())
                            .arg(sender_port));
        }
    }
}

void DeviceSimulator::answer_probe(const QHostAddress &sender, quint16 sender_port)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("sn"), settings.serial_number);
    if (!settings.version.isEmpty())
        reply.insert(QStringLiteral("ver"), settings.version);
    if (!settings.sound_version.isEmpty())
        reply.insert(QStringLiteral("snd"), settings.sound_version);
    const QByteArray bytes = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    const bool sent = reply_socket->writeDatagram(bytes, sender, sender_port) == bytes.size();
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
    if (serial_number != settings.serial_number) {
        print(line + QStringLiteral(": ignored, not my sn"));
        return;
    }
    if (type != QLatin1String("update") && type != QLatin1String("fs")) {
        print(line + QStringLiteral(": ignored, unknown type"));
        return;
    }
    if (port < 1 || port > 65535) {
        print(line + QStringLiteral(": ignored, bad port"));
        return;
    }
    if (!server_host.isNull()) {
        print(line + QStringLiteral(": ignored, busy"));
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
    QString save_path;
    if (method == "GET" && !settings.save_folder.isEmpty()) {
        QString name = QFileInfo(image_path).fileName();
        if (name.isEmpty())
            name = QStringLiteral("download");
        save_path = QDir(settings.save_folder).filePath(name);
    }
    auto *download =
            new HttpDownload(method, server_host, server_port, image_path, save_path, this);
    connect(download, &HttpDownload::finished, this,
            [this, download] { request_finished(download); });
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
    if (!result.error.isEmpty()) {
        end_download(QStringLiteral("failed: ") + result.error, false);
    } else if (result.status != 200) {
        end_download(QStringLiteral("failed: status %1").arg(result.status), false);
    } else if (method == "HEAD") {
        run_request(QByteArrayLiteral("GET"));
    } else if (!result.complete()) {
        end_download(
                QStringLiteral("incomplete, %1 of %2 bytes")
                        .arg(result.bytes)
                        .arg(result.content_length < 0 ? QStringLiteral("unknown")
                                                       : QString::number(result.content_length)),
                false);
    } else {
        if (result.saved)
            print(QStringLiteral("saved ") + download->save_file());
        end_download(QStringLiteral("complete, %1 bytes").arg(result.bytes), true);
    }
}

void DeviceSimulator::end_download(const QString &outcome, bool complete)
{
    print(QStringLiteral("result ") + outcome);
    server_host.clear();
    emit download_finished(complete);
}

// Lines go out at once: tests and scripts read them while the simulator runs.
void DeviceSimulator::print(const QString &line)
{
    QTextStream out(stdout);
    out << line << Qt::endl;
}
