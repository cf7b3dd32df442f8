#include "devicemessages.h"
#include "devicetable.h"
#include "freeports.h"
#include "watchedprocess.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

// Every wait is bounded; the simulator itself gives up a silent server later.
constexpr int wait_ms = 10000;

// Sends a probe from window to address:port and returns the first reply,
// with its sender; an empty reply when none came.
QByteArray probeReply(QUdpSocket &window, const QHostAddress &address, quint16 port,
        QHostAddress *sender, quint16 *senderPort = nullptr)
{
    window.writeDatagram(DeviceMessages::probe(), address, port);
    if (!window.waitForReadyRead(wait_ms))
        return QByteArray();
    QByteArray datagram(2048, '\0');
    datagram.truncate(
            int(window.readDatagram(datagram.data(), datagram.size(), sender, senderPort)));
    return datagram;
}

QByteArray body(int size)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes += char(i % 251);
    return bytes;
}

QByteArray response(const QByteArray &status, const QByteArray &headers, const QByteArray &content)
{
    return "HTTP/1.1 " + status + "\r\nServer: lwip\r\nConnection: Close\r\n" + headers + "\r\n"
            + content;
}

// One simulator process with its output collected as it arrives.
class Simulator : public WatchedProcess
{
public:
    explicit Simulator(const QStringList &arguments)
        : WatchedProcess(QStringLiteral(DEVSIM_PATH), arguments)
    {
    }
};

// Answers each request with the canned response for its method, then closes.
class TinyHttpServer : public QObject
{
public:
    TinyHttpServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }
    quint16 port() const { return server.serverPort(); }

    QMap<QByteArray, QByteArray> responses;
    QList<QByteArray> requestLines;
    QList<QHostAddress> peers;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &head = pending[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        const QByteArray line = head.left(head.indexOf("\r\n"));
        requestLines << line;
        peers << socket->peerAddress();
        socket->write(responses.value(line.left(line.indexOf(' '))));
        socket->disconnectFromHost();
    }

    QTcpServer server;
    QHash<QTcpSocket *, QByteArray> pending;
};

} // namespace

class tst_DeviceSimulator : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void helpInTheCommandLineStyle();
    void probeAnswered_data();
    void probeAnswered();
    void simulatorsShareOnePort();
    void download_data();
    void download();
    void foreignCommandsIgnored();
    void serverDown();
    void countAnswersFromEachAddress();
    void countSavesPerDeviceFromOwnAddress();
    void dropAfterCutsOnlyTheFirstDownload();
    void rateLimitsReads();
    void ignoreCommands();
    void rebootThenNewVersion();
    void verify_data();
    void verify();

private:
    void sendCommand(quint16 devicePort, quint16 httpPort, const QString &serialNumber,
            const QString &type,
            const QHostAddress &device = QHostAddress(QHostAddress::LocalHost));
};

void tst_DeviceSimulator::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("onStdout");
    QTest::addColumn<QByteArray>("message");
    const QStringList device{ "--sn", "A" };
    const QStringList fleet{ "--bind", "127.0.0.1", "--count" };
    QTest::newRow("help") << QStringList{ "--help" } << 0 << true
                          << QByteArray("\n  --update-path PATH    HTTP path");
    QTest::newRow("help-short") << QStringList{ "-h" } << 0 << true << QByteArray("\n  --count N ");
    QTest::newRow("help-exitStatus")
            << QStringList{ "--help" } << 0 << true << QByteArray("\nExit status: 0 ");
    QTest::newRow("help-onceStaysForConfirmation")
            << QStringList{ "--help" } << 0 << true << QByteArray("answers probes for 3 s more");
    QTest::newRow("help-port53") << QStringList{ "--help" } << 0 << true
                                 << QByteArray("needs UDP port 53");
    QTest::newRow("help-privateNetwork")
            << QStringList{ "--help" } << 0 << true << QByteArray("private network namespace");
    QTest::newRow("version") << QStringList{ "--version" } << 0 << true
                             << QByteArray("ondaspa-devsim " ONDASPA_VERSION "\n");
    QTest::newRow("unknownOption") << (device + QStringList{ "--port" }) << 2 << false
                                   << QByteArray("ondaspa-devsim: unknown option '--port'\n"
                                                 "Try 'ondaspa-devsim --help'.");
    QTest::newRow("missingValue") << QStringList{ "--sn" } << 2 << false
                                  << QByteArray("ondaspa-devsim: missing value after '--sn'");
    QTest::newRow("unexpectedArgument") << (device + QStringList{ "extra" }) << 2 << false
                                        << QByteArray("unexpected argument 'extra'");
    QTest::newRow("noSn") << QStringList() << 2 << false << QByteArray("--sn is required");
    QTest::newRow("emptySn") << QStringList{ "--sn", "" } << 2 << false
                             << QByteArray("--sn cannot be empty");
    QTest::newRow("port-0") << (device + QStringList{ "--udp-port", "0" }) << 2 << false
                            << QByteArray("--udp-port needs a whole number from 1 to 65535");
    QTest::newRow("port-65536") << (device + QStringList{ "--udp-port", "65536" }) << 2 << false
                                << QByteArray("--udp-port");
    QTest::newRow("bindIpv6") << (device + QStringList{ "--bind", "::1" }) << 2 << false
                              << QByteArray("--bind needs an IPv4 address");
    QTest::newRow("bindAbsentAddress")
            << (device + QStringList{ "--bind", "192.0.2.1", "--udp-port", "15999" }) << 2 << false
            << QByteArray("cannot bind 192.0.2.1:15999");
    QTest::newRow("saveIntoFile") << (device + QStringList{ "--save", DEVSIM_PATH }) << 2 << false
                                  << QByteArray(DEVSIM_PATH ": not a folder\n");
    QTest::newRow("relativePath") << (device + QStringList{ "--fs-path", "minifs_rom.img" }) << 2
                                  << false << QByteArray("start with /");
    QTest::newRow("count-0") << (fleet + QStringList{ "0" }) << 2 << false
                             << QByteArray("--count needs a whole number from 1 to 254");
    QTest::newRow("count-255") << (fleet + QStringList{ "255" }) << 2 << false
                               << QByteArray("--count");
    QTest::newRow("count-noBind") << QStringList{ "--count", "3" } << 2 << false
                                  << QByteArray("--count needs --bind");
    QTest::newRow("count-pastLastAddress") << QStringList{ "--count", "2", "--bind",
        "255.255.255.255" } << 2 << false << QByteArray("runs past 255.255.255.255");
    QTest::newRow("rate-0") << (device + QStringList{ "--rate", "0" }) << 2 << false
                            << QByteArray("--rate needs a whole number");
    QTest::newRow("dropAfter-negative") << (device + QStringList{ "--drop-after", "-1" }) << 2
                                        << false << QByteArray("--drop-after");
    QTest::newRow("reboot-negative") << (device + QStringList{ "--reboot", "-1" }) << 2 << false
                                     << QByteArray("--reboot needs seconds");
    QTest::newRow("verAfter-empty") << (device + QStringList{ "--ver-after", "" }) << 2 << false
                                    << QByteArray("--ver-after needs a version");
    QTest::newRow("verify-63digits") << (device + QStringList{ "--verify", QString(63, 'a') }) << 2
                                     << false << QByteArray("--verify needs a SHA-256");
}

// Usage goes to stdout, every error to stderr alone, prefixed and naming
// what was wrong.
void tst_DeviceSimulator::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(bool, onStdout);
    QFETCH(QByteArray, message);
    QProcess process;
    process.start(QStringLiteral(DEVSIM_PATH), arguments);
    QVERIFY(process.waitForFinished(wait_ms));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QVERIFY2((onStdout ? out : err).contains(message), (out + err).constData());
    QVERIFY2((onStdout ? err : out).isEmpty(), (out + err).constData());
}

// The layout of ondaspa-cli's help, and nothing that only the source tree has.
void tst_DeviceSimulator::helpInTheCommandLineStyle()
{
    QProcess process;
    process.start(QStringLiteral(DEVSIM_PATH), { QStringLiteral("--help") });
    QVERIFY(process.waitForFinished(wait_ms));
    const QByteArray help = process.readAllStandardOutput();
    QVERIFY2(help.startsWith("usage: ondaspa-devsim --sn SN "), help.constData());
    QVERIFY(help.contains("\n  -h, --help            show this text\n"));
    QVERIFY(help.contains("\n  --version             show the program's version\n"));
    QVERIFY(!help.contains("tests/"));
    QVERIFY(!help.contains("<N>")); // Qt's own layout names values so
    QVERIFY(help.endsWith(".\n") && !help.endsWith("\n\n"));
    for (const QByteArray &line : help.split('\n'))
        QVERIFY2(QString::fromUtf8(line).size() <= 80, line.constData());
}

void tst_DeviceSimulator::probeAnswered_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("rowText");
    QTest::newRow("snOnly") << QStringList{ "--sn", "T1" } << "T1";
    QTest::newRow("withVersions") << QStringList{ "--sn", "T1", "--ver", "1.2", "--snd", "s7" }
                                  << "T1,1.2,s7";
    QTest::newRow("sndOnly") << QStringList{ "--sn", "T1", "--snd", "s7" } << "T1,s7";
}

// The reply must be one the window lists, and come from the device's own
// address and port.
void tst_DeviceSimulator::probeAnswered()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, rowText);
    const quint16 port = freeUdpPort();
    Simulator simulator(
            arguments + QStringList{ "--bind", "127.0.0.1", "--udp-port", QString::number(port) });
    QVERIFY(simulator.waitForLine("listening"));

    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QHostAddress sender;
    quint16 senderPort = 0;
    const QByteArray datagram =
            probeReply(window, QHostAddress(QHostAddress::LocalHost), port, &sender, &senderPort);
    QCOMPARE(sender, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(senderPort, port);

    DeviceTable table;
    QCOMPARE(table.take_reply(datagram, sender), DeviceTable::Outcome::Added);
    QCOMPARE(table.text(0), rowText);
    QVERIFY(simulator.waitForLine("reply to 127.0.0.1:" + QByteArray::number(window.localPort())));
    QVERIFY(simulator.output.contains("probe from 127.0.0.1:"));
}

void tst_DeviceSimulator::simulatorsShareOnePort()
{
    const QString port = QString::number(freeUdpPort());
    Simulator first({ "--sn", "FIRST", "--bind", "127.0.0.1", "--udp-port", port });
    Simulator second({ "--sn", "SECOND", "--bind", "127.0.0.2", "--udp-port", port });
    QVERIFY(first.waitForLine("listening"));
    QVERIFY(second.waitForLine("listening"));

    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QHostAddress sender;
    const QByteArray datagram =
            probeReply(window, QHostAddress(QStringLiteral("127.0.0.2")), port.toUShort(), &sender);
    QCOMPARE(sender, QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(datagram.contains("SECOND"));
    QVERIFY(!first.output.contains("probe from"));
}

void tst_DeviceSimulator::sendCommand(quint16 devicePort, quint16 httpPort,
        const QString &serialNumber, const QString &type, const QHostAddress &device)
{
    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const QByteArray command = DeviceMessages::upgrade_command(httpPort, serialNumber, type);
    QCOMPARE(window.writeDatagram(command, device, devicePort), qint64(command.size()));
}

void tst_DeviceSimulator::download_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("getResponse");
    QTest::addColumn<QByteArray>("headResponse");
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("savedName");
    QTest::addColumn<QByteArray>("saved");
    QTest::addColumn<QByteArray>("result");

    const QByteArray image = body(10000);
    const QByteArray ok = response("200 OK", "Content-Length: 10000\r\n", image);
    const QByteArray notFound =
            response("501 not implemented", "Content-Length: 19\r\n", "501 not implemented");
    QTest::newRow("firmware") << "update" << QStringList() << ok << QByteArray()
                              << QStringList{ "GET /firmware.bin HTTP/1.1" } << 0 << "firmware.bin"
                              << image << QByteArray("complete, 10000 bytes");
    QTest::newRow("fileSystemOwnPath")
            << "fs" << QStringList{ "--fs-path", "/img/minifs_rom.img" } << ok << QByteArray()
            << QStringList{ "GET /img/minifs_rom.img HTTP/1.1" } << 0 << "minifs_rom.img" << image
            << QByteArray("complete, 10000 bytes");
    QTest::newRow("headFirst") << "fs" << QStringList{ "--head" } << ok
                               << response("200 OK", "Content-Length: 10000\r\n", QByteArray())
                               << QStringList{ "HEAD /minifs_rom.img HTTP/1.1",
                                      "GET /minifs_rom.img HTTP/1.1" }
                               << 0 << "minifs_rom.img" << image
                               << QByteArray("complete, 10000 bytes");
    QTest::newRow("bytesPastLengthDropped")
            << "update" << QStringList() << response("200 OK", "Content-Length: 10\r\n", image)
            << QByteArray() << QStringList{ "GET /firmware.bin HTTP/1.1" } << 0 << "firmware.bin"
            << image.left(10) << QByteArray("complete, 10 bytes");
    QTest::newRow("lowerCaseHeader")
            << "update" << QStringList() << response("200 OK", "content-length: 5\r\n", "abcde")
            << QByteArray() << QStringList{ "GET /firmware.bin HTTP/1.1" } << 0 << "firmware.bin"
            << QByteArray("abcde") << QByteArray("complete, 5 bytes");
    QTest::newRow("emptyImage") << "update" << QStringList()
                                << response("200 OK", "Content-Length: 0\r\n", QByteArray())
                                << QByteArray() << QStringList{ "GET /firmware.bin HTTP/1.1" } << 0
                                << "firmware.bin" << QByteArray("")
                                << QByteArray("complete, 0 bytes");
    QTest::newRow("shortBody") << "update" << QStringList()
                               << response("200 OK", "Content-Length: 10000\r\n", image.left(600))
                               << QByteArray() << QStringList{ "GET /firmware.bin HTTP/1.1" } << 1
                               << "firmware.bin" << QByteArray()
                               << QByteArray("incomplete, 600 of 10000 bytes");
    QTest::newRow("noLength") << "update" << QStringList()
                              << response("200 OK", QByteArray(), image.left(10)) << QByteArray()
                              << QStringList{ "GET /firmware.bin HTTP/1.1" } << 1 << "firmware.bin"
                              << QByteArray() << QByteArray("incomplete, 10 of unknown bytes");
    QTest::newRow("notFound") << "update" << QStringList() << notFound << QByteArray()
                              << QStringList{ "GET /firmware.bin HTTP/1.1" } << 1 << "firmware.bin"
                              << QByteArray() << QByteArray("failed: status 501");
    QTest::newRow("headNotFound") << "fs" << QStringList{ "--head" } << ok << notFound
                                  << QStringList{ "HEAD /minifs_rom.img HTTP/1.1" } << 1
                                  << "minifs_rom.img" << QByteArray()
                                  << QByteArray("failed: status 501");
    QTest::newRow("notHttp") << "update" << QStringList() << QByteArray("hello\r\n\r\n")
                             << QByteArray() << QStringList{ "GET /firmware.bin HTTP/1.1" } << 1
                             << "firmware.bin" << QByteArray()
                             << QByteArray("failed: malformed status line");
}

void tst_DeviceSimulator::download()
{
    QFETCH(QString, type);
    QFETCH(QStringList, options);
    QFETCH(QByteArray, getResponse);
    QFETCH(QByteArray, headResponse);
    QFETCH(QStringList, requests);
    QFETCH(int, exitCode);
    QFETCH(QString, savedName);
    QFETCH(QByteArray, saved);
    QFETCH(QByteArray, result);

    TinyHttpServer server;
    server.responses.insert("GET", getResponse);
    server.responses.insert("HEAD", headResponse);
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const quint16 port = freeUdpPort();
    Simulator simulator(options
            + QStringList{ "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port),
                    "--save", folder.path(), "--once" });
    QVERIFY(simulator.waitForLine("listening"));
    sendCommand(port, server.port(), QStringLiteral("T1"), type);

    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(simulator.process.exitCode(), exitCode);
    QStringList seen;
    for (const QByteArray &line : qAsConst(server.requestLines))
        seen << QString::fromLatin1(line);
    QCOMPARE(seen, requests);
    QVERIFY2(simulator.output.contains("command type=" + type.toLatin1() + " sn=T1 port="),
            simulator.output.constData());
    QVERIFY2(simulator.output.contains("result " + result), simulator.output.constData());

    QFile file(folder.filePath(savedName));
    QCOMPARE(file.exists(), !saved.isNull());
    if (!saved.isNull()) {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), saved);
    }
}

void tst_DeviceSimulator::foreignCommandsIgnored()
{
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 3\r\n", "abc"));
    const quint16 port = freeUdpPort();
    Simulator simulator(
            { "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port), "--once" });
    QVERIFY(simulator.waitForLine("listening"));

    sendCommand(port, server.port(), QStringLiteral("T2"), QStringLiteral("update"));
    QVERIFY(simulator.waitForLine("ignored, not my sn"));
    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("reboot"));
    QVERIFY(simulator.waitForLine("ignored, unknown type"));
    sendCommand(port, 0, QStringLiteral("T1"), QStringLiteral("fs"));
    QVERIFY(simulator.waitForLine("ignored, bad port"));
    QVERIFY(server.requestLines.isEmpty());
    QCOMPARE(simulator.process.state(), QProcess::Running);

    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), 0);
    QCOMPARE(server.requestLines.size(), 1);
}

void tst_DeviceSimulator::serverDown()
{
    quint16 closedPort = 0;
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        closedPort = server.serverPort();
    }
    const quint16 port = freeUdpPort();
    Simulator simulator(
            { "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port), "--once" });
    QVERIFY(simulator.waitForLine("listening"));
    sendCommand(port, closedPort, QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), 1);
    QVERIFY2(simulator.output.contains("result failed: "), simulator.output.constData());
}

// Each device is a row of its own in the window: its own address, serial
// number and output lines.
void tst_DeviceSimulator::countAnswersFromEachAddress()
{
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--count", "3", "--sn", "HOTEL", "--bind", "127.0.0.1", "--udp-port",
            QString::number(port) });
    QVERIFY(simulator.waitForLine("listening: 3 devices, 127.0.0.1 to 127.0.0.3"));

    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    DeviceTable table;
    for (int device = 1; device <= 3; ++device) {
        const QHostAddress address(QStringLiteral("127.0.0.%1").arg(device));
        QHostAddress sender;
        const QByteArray reply = probeReply(window, address, port, &sender);
        QCOMPARE(sender, address);
        QCOMPARE(table.take_reply(reply, sender), DeviceTable::Outcome::Added);
        const QByteArray serialNumber = "HOTEL-00" + QByteArray::number(device);
        QCOMPARE(table.text(device - 1), QString::fromLatin1(serialNumber));
        QVERIFY(simulator.waitForLine(serialNumber + ": reply to 127.0.0.1:"));
    }
    QCOMPARE(simulator.output.count("reply to"), 3);
}

// The server tells devices apart by the peer address; equal file names must
// not overwrite each other.
void tst_DeviceSimulator::countSavesPerDeviceFromOwnAddress()
{
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 5\r\n", "abcde"));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--count", "2", "--bind", "127.0.0.1", "--udp-port",
            QString::number(port), "--save", folder.path(), "--once" });
    QVERIFY(simulator.waitForLine("listening: 2 devices"));
    sendCommand(port, server.port(), QStringLiteral("SN-002"), QStringLiteral("update"),
            QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(simulator.waitForLine("SN-002: result complete, 5 bytes"));
    QCOMPARE(server.peers, QList<QHostAddress>{ QHostAddress(QStringLiteral("127.0.0.2")) });
    sendCommand(port, server.port(), QStringLiteral("SN-001"), QStringLiteral("update"));

    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), 0);
    QCOMPARE(server.peers.last(), QHostAddress(QHostAddress::LocalHost));
    for (const QString device : { "SN-001", "SN-002" }) {
        QFile file(folder.filePath(device + QStringLiteral("/firmware.bin")));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        QCOMPARE(file.readAll(), QByteArray("abcde"));
    }
}

// The cut download ends no upgrade: --once waits for the retry.
void tst_DeviceSimulator::dropAfterCutsOnlyTheFirstDownload()
{
    const QByteArray image = body(10000);
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 10000\r\n", image));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port),
            "--drop-after", "4000", "--save", folder.path(), "--once" });
    QVERIFY(simulator.waitForLine("listening"));
    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForLine("result dropped, 4000 of 10000 bytes"));
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("firmware.bin"))));

    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), 0);
    QVERIFY2(simulator.output.contains("result complete, 10000 bytes"),
            simulator.output.constData());
    QCOMPARE(simulator.output.count("result "), 2);
    QFile file(folder.filePath(QStringLiteral("firmware.bin")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), image);
}

// Every progress line, the last one included, stays within the rate: the
// device never reads ahead of it, so the whole body takes size / rate at least.
void tst_DeviceSimulator::rateLimitsReads()
{
    constexpr qint64 rate = 20000;
    constexpr qint64 size = 30000;
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 30000\r\n", body(size)));
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port),
            "--rate", QString::number(rate), "--once" });
    QVERIFY(simulator.waitForLine("listening"));
    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), 0);

    const QRegularExpression progress(
            QStringLiteral("progress (\\d+) of 30000 bytes after (\\d+) ms"));
    QList<qint64> bytes;
    auto lines = progress.globalMatch(QString::fromLatin1(simulator.output));
    while (lines.hasNext()) {
        const QRegularExpressionMatch line = lines.next();
        bytes << line.captured(1).toLongLong();
        QVERIFY2(bytes.last() * 1000 <= rate * line.captured(2).toLongLong(),
                qPrintable(line.captured()));
    }
    QVERIFY2(bytes.size() >= 2, simulator.output.constData());
    QCOMPARE(bytes.last(), size);
}

void tst_DeviceSimulator::ignoreCommands()
{
    TinyHttpServer server;
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port),
            "--ignore-commands" });
    QVERIFY(simulator.waitForLine("listening"));
    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    QHostAddress sender;
    QVERIFY(!probeReply(window, QHostAddress(QHostAddress::LocalHost), port, &sender).isEmpty());

    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForLine("sn=T1 port=" + QByteArray::number(server.port())
            + " from 127.0.0.1: ignored, --ignore-commands"));
    QVERIFY(!simulator.output.contains("http "));
    QVERIFY(server.requestLines.isEmpty());
}

void tst_DeviceSimulator::rebootThenNewVersion()
{
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 5\r\n", "abcde"));
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--sn", "T1", "--ver", "1.0", "--bind", "127.0.0.1", "--udp-port",
            QString::number(port), "--reboot", "3", "--ver-after", "2.0" });
    QVERIFY(simulator.waitForLine("listening"));
    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const QHostAddress device(QHostAddress::LocalHost);
    QHostAddress sender;
    DeviceTable before;
    QCOMPARE(before.take_reply(probeReply(window, device, port, &sender), sender),
            DeviceTable::Outcome::Added);
    QCOMPARE(before.text(0), QStringLiteral("T1,1.0"));

    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForLine("rebooting for 3 s"));
    window.writeDatagram(DeviceMessages::probe(), device, port);
    QVERIFY(simulator.waitForLine("ignored, rebooting"));
    // On loopback a reply would be queued before the device logs the probe.
    QVERIFY(!window.hasPendingDatagrams());

    QVERIFY(simulator.waitForLine("back, ver 2.0"));
    DeviceTable after;
    QCOMPARE(after.take_reply(probeReply(window, device, port, &sender), sender),
            DeviceTable::Outcome::Added);
    QCOMPARE(after.text(0), QStringLiteral("T1,2.0"));
}

void tst_DeviceSimulator::verify_data()
{
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("line");
    const QByteArray image = body(10000);
    const QByteArray right = QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex();
    const QByteArray wrong =
            QCryptographicHash::hash(image.left(9999), QCryptographicHash::Sha256).toHex();
    QTest::newRow("match") << right << 0 << "verify ok, sha256 " + right;
    QTest::newRow("matchUpperCase") << right.toUpper() << 0 << "verify ok, sha256 " + right;
    QTest::newRow("mismatch") << wrong << 1
                              << "verify mismatch, sha256 " + right + ", expected " + wrong;
}

// A device refuses an image that does not verify: it keeps its version.
void tst_DeviceSimulator::verify()
{
    QFETCH(QByteArray, expected);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, line);
    TinyHttpServer server;
    server.responses.insert("GET", response("200 OK", "Content-Length: 10000\r\n", body(10000)));
    const quint16 port = freeUdpPort();
    Simulator simulator({ "--sn", "T1", "--bind", "127.0.0.1", "--udp-port", QString::number(port),
            "--verify", QString::fromLatin1(expected), "--ver-after", "2.0", "--once" });
    QVERIFY(simulator.waitForLine("listening"));
    sendCommand(port, server.port(), QStringLiteral("T1"), QStringLiteral("update"));
    QVERIFY(simulator.waitForExit());
    QCOMPARE(simulator.process.exitCode(), exitCode);
    QVERIFY2(simulator.output.contains(line), simulator.output.constData());
    QCOMPARE(simulator.output.contains("back, ver 2.0"), exitCode == 0);
}

QTEST_GUILESS_MAIN(tst_DeviceSimulator)
#include "tst_devicesimulator.moc"
