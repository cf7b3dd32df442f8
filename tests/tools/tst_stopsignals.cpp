#include "freeports.h"
#include "jsonevents.h"
#include "watchedprocess.h"

#include <QJsonObject>
#include <QUdpSocket>
#include <QtTest>

#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

namespace {

// Stop requests by their Unix names; on Windows Ctrl-C and Ctrl-Break stand for them.
enum class Request { Interrupt, Terminate };

#ifdef Q_OS_WIN
const char *requestName(Request request)
{
    return request == Request::Interrupt ? "CTRL_C_EVENT" : "CTRL_BREAK_EVENT";
}

// The program starts in a process group of its own on this console, so that the events reach
// it alone.
void prepareForRequests(QProcess &process)
{
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *arguments) {
        arguments->flags = (arguments->flags & ~DWORD(CREATE_NO_WINDOW)) | CREATE_NEW_PROCESS_GROUP;
    });
}

bool sendRequest(QProcess &process, Request request)
{
    const DWORD event = request == Request::Interrupt ? CTRL_C_EVENT : CTRL_BREAK_EVENT;
    return process.processId() > 0
            && ::GenerateConsoleCtrlEvent(event, DWORD(process.processId())) != 0;
}
#else
const char *requestName(Request request)
{
    return request == Request::Interrupt ? "SIGINT" : "SIGTERM";
}

void prepareForRequests(QProcess &) { }

// Never to process 0: that would be the test's whole process group.
bool sendRequest(QProcess &process, Request request)
{
    const int number = request == Request::Interrupt ? SIGINT : SIGTERM;
    return process.processId() > 0 && ::kill(pid_t(process.processId()), number) == 0;
}
#endif

} // namespace

Q_DECLARE_METATYPE(Request)

// `ondaspa-cli upgrade` stopped by the system's requests: the first stops in good order, a
// second ends the program at once. The device is this test: it answers the probes on loopback
// and never fetches its image, so the run waits for it until stopped.
class tst_StopSignals : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void firstStopsInGoodOrder_data();
    void firstStopsInGoodOrder();
    void secondQuitsAtOnce_data();
    void secondQuitsAtOnce();

private:
    // Starts a run that waits up to timeout seconds for the device; returns once the command
    // has gone out.
    void startRun(int timeout);
    // Sends request; returns why not where the system cannot send it here.
    QString send(Request request);

    QTemporaryDir work;
    std::unique_ptr<QUdpSocket> device;
    std::unique_ptr<WatchedProcess> cli;
};

void tst_StopSignals::initTestCase()
{
    QVERIFY(work.isValid());
    QVERIFY(QDir(work.path()).mkdir(QStringLiteral("html")));
    QFile image(work.filePath(QStringLiteral("html/minifs_rom.img")));
    QVERIFY(image.open(QIODevice::WriteOnly));
    QCOMPARE(image.write(QByteArray(1000, 'i')), qint64(1000));
#ifdef Q_OS_WIN
    // The events go to the program's group; this process stays out of their way.
    ::SetConsoleCtrlHandler(nullptr, TRUE);
#endif
}

void tst_StopSignals::init()
{
    device.reset(new QUdpSocket);
    QVERIFY(device->bind(QHostAddress(QHostAddress::LocalHost), 0));
    connect(device.get(), &QUdpSocket::readyRead, this, [this] {
        while (device->hasPendingDatagrams()) {
            QHostAddress sender;
            quint16 port = 0;
            QByteArray datagram(int(device->pendingDatagramSize()), '\0');
            device->readDatagram(datagram.data(), datagram.size(), &sender, &port);
            if (datagram.contains("hellotavirex"))
                device->writeDatagram("{\"sn\": \"STOP-1\"}", sender, port);
        }
    });
}

void tst_StopSignals::cleanup()
{
    cli.reset();
    device.reset();
}

void tst_StopSignals::startRun(int timeout)
{
    cli.reset(new WatchedProcess(QStringLiteral(CLI_PATH),
            { "upgrade", "fs", "--ip", "127.0.0.1", "--device-port",
                    QString::number(device->localPort()), "--port", QString::number(freeTcpPort()),
                    "--folder", work.filePath(QStringLiteral("html")), "--timeout",
                    QString::number(timeout), "--retries", "0", "--json" },
            prepareForRequests));
    QVERIFY2(cli->waitForLine("\"state\":\"command sent\""), cli->errors.constData());
}

QString tst_StopSignals::send(Request request)
{
    if (sendRequest(cli->process, request))
        return QString();
    return QStringLiteral("this system does not send %1 here (wine sends Ctrl-C alone, to "
                          "programs on a terminal)")
            .arg(QLatin1String(requestName(request)));
}

void tst_StopSignals::firstStopsInGoodOrder_data()
{
    QTest::addColumn<Request>("request");
    QTest::newRow("interrupt") << Request::Interrupt;
    QTest::newRow("terminate") << Request::Terminate;
}

// No device is left behind: the one waiting for its download runs to its time-out, then the
// closing table and summary come, with the status of an unfinished run.
void tst_StopSignals::firstStopsInGoodOrder()
{
    QFETCH(Request, request);
    startRun(3);
    if (QTest::currentTestFailed())
        return;
    const QString unsent = send(request);
    if (!unsent.isEmpty())
        QSKIP(qPrintable(unsent));
    QVERIFY(cli->waitForExit());

    QCOMPARE(cli->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli->process.exitCode(), 1);
    const QList<QJsonObject> stopping = jsonEvents(cli->output, QStringLiteral("stopping"));
    QCOMPARE(stopping.size(), 1);
    QCOMPARE(stopping.first().value(QStringLiteral("signal")).toString(),
            QLatin1String(requestName(request)));
    const QJsonObject summary = jsonEvents(cli->output, QStringLiteral("summary")).value(0);
    QVERIFY2(summary.value(QStringLiteral("stopped")).toBool(), cli->output.constData());
    QVERIFY2(cli->errors.contains(QByteArray(requestName(request)) + ": stopping"),
            cli->errors.constData());
}

void tst_StopSignals::secondQuitsAtOnce_data()
{
    QTest::addColumn<Request>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("interrupt") << Request::Interrupt << 130;
    QTest::newRow("terminate") << Request::Terminate << 143;
}

void tst_StopSignals::secondQuitsAtOnce()
{
    QFETCH(Request, request);
    QFETCH(int, status);
    // The device would be waited for a minute.
    startRun(60);
    if (QTest::currentTestFailed())
        return;
    const QString unsent = send(request);
    if (!unsent.isEmpty())
        QSKIP(qPrintable(unsent));
    QVERIFY(cli->waitForLine("\"event\":\"stopping\""));
    QVERIFY(send(request).isEmpty());
    QVERIFY(cli->waitForExit());

    QCOMPARE(cli->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli->process.exitCode(), status);
    QVERIFY(jsonEvents(cli->output, QStringLiteral("summary")).isEmpty());
}

QTEST_GUILESS_MAIN(tst_StopSignals)
#include "tst_stopsignals.moc"
