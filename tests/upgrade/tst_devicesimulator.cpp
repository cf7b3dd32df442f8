#include "devicemessages.h"
#include "devicetable.h"

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

namespace {

// Every wait is bounded; the simulator itself gives up a silent server later.
constexpr int wait_ms = 10000;

// A free UDP port on loopback for the simulator to share by SO_REUSEPORT.
quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
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
class Simulator
{
public:
    explicit Simulator(const QStringList &arguments)
    {
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                [this] { output += process.readAllStandardOutput(); });
        process.start(QStringLiteral(DEVSIM_PATH), arguments);
    }
    ~Simulator()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(wait_ms);
        }
    }
    bool waitForLine(const QByteArray &text)
    {
        QElapsedTimer timer;
        timer.start();
        while (!output.contains(text) && timer.elapsed() < wait_ms)
            QTest::qWait(10);
        return output.contains(text);
    }
    bool waitForExit()
    {
        QElapsedTimer timer;
        timer.start();
        while (process.state() != QProcess::NotRunning && timer.elapsed() < wait_ms)
            QTest::qWait(10);
        output += process.readAllStandardOutput();
        return process.state() == QProcess::NotRunning;
    }

    QProcess process;
    QByteArray output;
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

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &head = pending[socket];
        head += socket->readAll();
        if (!head.contains("\r\n\r\n"))
            return;
        const QByteArray line = head.left(head.indexOf("\r\n"));
        requestLines << line;
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
    void options_data();
    void options();
    void probeAnswered_data();
    void probeAnswered();
    void simulatorsShareOnePort();
    void download_data();
    void download();
    void foreignCommandsIgnored();
    void serverDown();

private:
    void sendCommand(
            quint16 devicePort, quint16 httpPort, const QString &serialNumber, const QString &type);
};

void tst_DeviceSimulator::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("help") << QStringList{ "--help" } << 0 << QByteArray("--update-path <PATH>");
    QTest::newRow("noSn") << QStringList() << 2 << QByteArray("--sn is required");
    QTest::newRow("emptySn") << QStringList{ "--sn", "" } << 2 << QByteArray("--sn is required");
    QTest::newRow("port-0") << QStringList{ "--sn", "A", "--udp-port", "0" } << 2
                            << QByteArray("--udp-port");
    QTest::newRow("port-65536") << QStringList{ "--sn", "A", "--udp-port", "65536" } << 2
                                << QByteArray("--udp-port");
    QTest::newRow("bindIpv6") << QStringList{ "--sn", "A", "--bind", "::1" } << 2
                              << QByteArray("IPv4");
    QTest::newRow("relativePath") << QStringList{ "--sn", "A", "--fs-path", "minifs_rom.img" } << 2
                                  << QByteArray("start with /");
    QTest::newRow("unknownOption")
            << QStringList{ "--sn", "A", "--port" } << 2 << QByteArray("port");
}

void tst_DeviceSimulator::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, message);
    QProcess process;
    process.start(QStringLiteral(DEVSIM_PATH), arguments);
    QVERIFY(process.waitForFinished(wait_ms));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray text = process.readAllStandardOutput() + process.readAllStandardError();
    QVERIFY2(text.contains(message), text.constData());
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
    window.writeDatagram(DeviceMessages::probe(), QHostAddress(QHostAddress::LocalHost), port);
    QVERIFY(window.waitForReadyRead(wait_ms));
    QByteArray datagram(2048, '\0');
    QHostAddress sender;
    quint16 senderPort = 0;
    datagram.truncate(
            int(window.readDatagram(datagram.data(), datagram.size(), &sender, &senderPort)));
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
    window.writeDatagram(
            DeviceMessages::probe(), QHostAddress(QStringLiteral("127.0.0.2")), port.toUShort());
    QVERIFY(window.waitForReadyRead(wait_ms));
    QByteArray datagram(2048, '\0');
    QHostAddress sender;
    datagram.truncate(int(window.readDatagram(datagram.data(), datagram.size(), &sender)));
    QCOMPARE(sender, QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(datagram.contains("SECOND"));
    QVERIFY(!first.output.contains("probe from"));
}

void tst_DeviceSimulator::sendCommand(
        quint16 devicePort, quint16 httpPort, const QString &serialNumber, const QString &type)
{
    QUdpSocket window;
    QVERIFY(window.bind(QHostAddress(QHostAddress::LocalHost), 0));
    const QByteArray command = DeviceMessages::upgrade_command(httpPort, serialNumber, type);
    QCOMPARE(window.writeDatagram(command, QHostAddress(QHostAddress::LocalHost), devicePort),
            qint64(command.size()));
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

QTEST_GUILESS_MAIN(tst_DeviceSimulator)
#include "tst_devicesimulator.moc"
