#include "commandrun.h"
#include "freeports.h"
#include "jsonevents.h"
#include "testfiles.h"
#include "watchedprocess.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

// Each simulated device takes about four seconds for the image.
constexpr int image_size = 400000;
constexpr int read_rate = 100000; // bytes per second

} // namespace

// `ondaspa-cli upgrade` on loopback: simulated devices on 127.0.0.x at a
// UDP port of their own, named by --ip, so nothing is broadcast.
class tst_UpgradeCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addressErrors_data();
    void addressErrors();
    void servedFolderErrors_data();
    void servedFolderErrors();
    void interruptStopsInGoodOrder();
    void secondInterruptQuitsAtOnce();
    void streamsStayApart();
    void endsSoonAfterSummary_data();
    void endsSoonAfterSummary();
    void confirmSeesOnceSimulatorBack();

private:
    // Two slow devices upgraded one at a time; returns once the first downloads.
    void start_slow_run();
    // Never to process 0: that would be the test's whole process group.
    bool interrupt()
    {
        const qint64 process = cli->process.processId();
        return process > 0 && ::kill(pid_t(process), SIGINT) == 0;
    }

    QTemporaryDir work;
    std::unique_ptr<WatchedProcess> devices;
    std::unique_ptr<WatchedProcess> cli;
};

void tst_UpgradeCommand::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("html")));
    QVERIFY(writeFile(
            work.filePath(QStringLiteral("html/minifs_rom.img")), randomBytes(image_size)));
}

void tst_UpgradeCommand::addressErrors_data()
{
    QTest::addColumn<QString>("addresses");
    QTest::addColumn<QString>("message");
    QTest::newRow("malformed") << "10.0.1"
                               << "--ip: \"10.0.1\" is not an IPv4 address or range";
    QTest::newRow("reversed") << "10.0.0.9-3"
                              << "--ip: \"10.0.0.9-3\": the range ends before it starts";
    QTest::newRow("tooMany") << "10.0.0.0-10.1.0.0"
                             << "--ip: \"10.0.0.0-10.1.0.0\": more than 4096 addresses";
}

void tst_UpgradeCommand::addressErrors()
{
    QFETCH(QString, addresses);
    QFETCH(QString, message);
    const CommandRun run = CommandRun::of({ CLI_PATH, "upgrade", "fs", "--ip", addresses });
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains("ondaspa-cli upgrade: " + message + '\n'), qPrintable(run.err));
}

// The check before anything is sent: a file where the served folder should
// be is named for what it is.
void tst_UpgradeCommand::servedFolderErrors_data()
{
    QTest::addColumn<QString>("folder"); // below the work folder
    QTest::addColumn<QString>("message"); // FOLDER: the folder's full path
    QTest::newRow("isAFile") << "html/minifs_rom.img"
                             << "FOLDER: not a folder";
    QTest::newRow("missing") << "absent"
                             << "FOLDER: the served folder does not exist";
}

void tst_UpgradeCommand::servedFolderErrors()
{
    QFETCH(QString, folder);
    QFETCH(QString, message);
    const QString path = work.filePath(folder);
    const CommandRun run =
            CommandRun::of({ CLI_PATH, "upgrade", "fs", "--ip", "127.0.0.1", "--folder", path });
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err,
            QStringLiteral("ondaspa-cli upgrade: ")
                    + message.replace(QStringLiteral("FOLDER"), path) + QLatin1Char('\n'));
}

void tst_UpgradeCommand::start_slow_run()
{
    const QString udp_port = QString::number(freeUdpPort());
    devices.reset(new WatchedProcess(QStringLiteral(DEVSIM_PATH),
            { "--count", "2", "--sn", "SIG", "--bind", "127.0.0.41", "--udp-port", udp_port,
                    "--rate", QString::number(read_rate) }));
    QVERIFY(devices->waitForLine("listening"));
    // The server's debug messages on, to see where they go.
    qputenv("QT_LOGGING_RULES", "ondaspa.http.debug=true");
    cli.reset(new WatchedProcess(QStringLiteral(CLI_PATH),
            { "upgrade", "fs", "--ip", "127.0.0.41,127.0.0.42", "--device-port", udp_port, "--port",
                    QString::number(freeTcpPort()), "--folder",
                    work.filePath(QStringLiteral("html")), "--parallel", "1", "--json" }));
    qunsetenv("QT_LOGGING_RULES");
    QVERIFY2(cli->waitForLine("\"state\":\"downloading\""), cli->errors.constData());
}

// The download under way ends normally, the other device gets no command,
// and the closing table and summary say so.
void tst_UpgradeCommand::interruptStopsInGoodOrder()
{
    start_slow_run();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(interrupt());
    QVERIFY(cli->waitForExit(3 * image_size / read_rate * 1000));

    QCOMPARE(cli->process.exitCode(), 1);
    QCOMPARE(jsonEvents(cli->output, QStringLiteral("stopping")).size(), 1);
    const QJsonObject summary = jsonEvents(cli->output, QStringLiteral("summary")).value(0);
    QVERIFY(summary.value(QStringLiteral("stopped")).toBool());
    QStringList states;
    for (const QJsonValue device : summary.value(QStringLiteral("devices")).toArray())
        states << device[QStringLiteral("state")].toString();
    QCOMPARE(states, (QStringList{ "file sent", "not started" }));
    QCOMPARE(summary.value(QStringLiteral("not_started")).toInt(), 1);
    QCOMPARE(summary.value(QStringLiteral("failed")).toInt(), 0);
    QVERIFY(devices->waitForLine("result complete"));
    QVERIFY(!devices->output.contains("sn=SIG-002"));
    QVERIFY2(cli->errors.contains("SIGINT: stopping") && cli->errors.contains("(stopped)")
                    && cli->errors.contains("not started: SIG-002"),
            cli->errors.constData());
}

// Scripts read stdout as JSON Lines; people read stderr by time, the Qt
// messages of the server among the progress lines.
void tst_UpgradeCommand::streamsStayApart()
{
    start_slow_run();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(interrupt());
    QVERIFY(cli->waitForExit(3 * image_size / read_rate * 1000));

    for (const QByteArray &line : cli->output.split('\n')) {
        if (!line.isEmpty())
            QVERIFY2(QJsonDocument::fromJson(line).isObject(), line.constData());
    }
    const QRegularExpression stamped(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    int serverLines = 0;
    for (const QByteArray &line : cli->errors.split('\n')) {
        const QString text = QString::fromUtf8(line);
        if (text.contains(QLatin1String("HttpConnectionHandler"))) {
            QVERIFY2(stamped.match(text).hasMatch()
                            && text.contains(QLatin1String(" ondaspa.http: ")),
                    line.constData());
            ++serverLines;
        }
    }
    QVERIFY2(serverLines > 0, cli->errors.constData());
}

void tst_UpgradeCommand::secondInterruptQuitsAtOnce()
{
    start_slow_run();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(interrupt());
    QVERIFY(cli->waitForLine("\"event\":\"stopping\""));
    QVERIFY(interrupt());
    // Long before the download under way could end.
    QVERIFY(cli->waitForExit(image_size / read_rate * 1000 / 2));

    QCOMPARE(cli->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli->process.exitCode(), 130);
    QVERIFY(jsonEvents(cli->output, QStringLiteral("summary")).isEmpty());
}

void tst_UpgradeCommand::endsSoonAfterSummary_data()
{
    QTest::addColumn<bool>("interrupted");
    QTest::newRow("byItself") << false;
    QTest::newRow("ctrlC") << true;
}

// A peer that holds a half request open keeps the server busy: after the summary the command
// still closes within seconds (the server's own read time-out is 30 s), and a Ctrl-C there
// quits with the run's status, not 130.
void tst_UpgradeCommand::endsSoonAfterSummary()
{
    QFETCH(bool, interrupted);
    const QString udp_port = QString::number(freeUdpPort());
    devices.reset(new WatchedProcess(QStringLiteral(DEVSIM_PATH),
            { "--sn", "END", "--bind", "127.0.0.43", "--udp-port", udp_port }));
    QVERIFY(devices->waitForLine("listening"));
    const quint16 port = freeTcpPort();
    cli.reset(new WatchedProcess(QStringLiteral(CLI_PATH),
            { "upgrade", "fs", "--ip", "127.0.0.43", "--device-port", udp_port, "--port",
                    QString::number(port), "--folder", work.filePath(QStringLiteral("html")),
                    "--json" }));
    QVERIFY2(cli->waitForLine("\"event\":\"serving\""), cli->errors.constData());
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(peer.waitForConnected(5000));
    peer.write("GET /minifs_rom.img HTTP/1.1\r\nHost: x\r\n");
    QVERIFY(peer.waitForBytesWritten(5000));

    QVERIFY2(cli->waitForLine("\"event\":\"summary\""), cli->errors.constData());
    if (interrupted)
        QVERIFY(interrupt());
    QVERIFY2(cli->waitForExit(15000), cli->errors.constData());
    QCOMPARE(cli->process.exitCode(), 0);
    if (!interrupted)
        QVERIFY2(cli->errors.contains(
                         "the server closes; requests of other hosts under way are cut"),
                cli->errors.constData());
}

// A simulator that exits with --once stays long enough after its reboot
// for the confirmation to see it back.
void tst_UpgradeCommand::confirmSeesOnceSimulatorBack()
{
    const QString udp_port = QString::number(freeUdpPort());
    WatchedProcess device(QStringLiteral(DEVSIM_PATH),
            { "--sn", "CONF", "--bind", "127.0.0.51", "--udp-port", udp_port, "--ver", "1.0",
                    "--reboot", "1", "--ver-after", "1.1", "--once" });
    QVERIFY(device.waitForLine("listening"));
    WatchedProcess upgrade(QStringLiteral(CLI_PATH),
            { "upgrade", "fs", "--ip", "127.0.0.51", "--device-port", udp_port, "--port",
                    QString::number(freeTcpPort()), "--folder",
                    work.filePath(QStringLiteral("html")), "--confirm", "10", "--json" });
    QVERIFY2(upgrade.waitForExit(20000), upgrade.errors.constData());
    QCOMPARE(upgrade.process.exitCode(), 0);
    const QJsonObject versions = jsonEvents(upgrade.output, QStringLiteral("versions")).value(0);
    QCOMPARE(versions.value(QStringLiteral("ver_before")).toString(), QStringLiteral("1.0"));
    QCOMPARE(versions.value(QStringLiteral("ver_after")).toString(), QStringLiteral("1.1"));
    const QJsonArray summary = jsonEvents(upgrade.output, QStringLiteral("summary"))
                                       .value(0)
                                       .value(QStringLiteral("devices"))
                                       .toArray();
    QCOMPARE(summary.size(), 1);
    QCOMPARE(summary.at(0)[QStringLiteral("state")].toString(), QStringLiteral("back"));

    QVERIFY(device.waitForExit());
    QCOMPARE(device.process.exitCode(), 0);
    QVERIFY2(device.output.contains("back, ver 1.1"), device.output.constData());
}

QTEST_GUILESS_MAIN(tst_UpgradeCommand)
#include "tst_upgradecommand.moc"
