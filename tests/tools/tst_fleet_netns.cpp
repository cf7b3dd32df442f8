#include "namespacesimulator.h"
#include "privatenetwork.h"
#include "testfiles.h"
#include "upgraderun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>

namespace {

// The fleet: SN-001 to SN-050 from 198.18.0.2, each reading at a limited rate.
constexpr int fleet_size = 50;
constexpr int parallel = 16;
// About ten seconds per device alone: the whole check takes about a minute.
constexpr int image_size = 1000000;
constexpr int read_rate = 100000; // bytes per second
// The dropping device closes its first download after this many body bytes.
constexpr int drop_after = 100000;
// The fleet run's allowance for the first slowest-to-finish share of a round.
constexpr double time_bound_factor = 1.3;
// Longest wait for one run of the command line, in ms.
constexpr int run_limit = 240000;

CliRun run_cli(const QStringList &arguments)
{
    return CliRun::of(QStringLiteral(CLI_PATH), arguments, run_limit);
}

} // namespace

// Runs only under fleet-netns-e2e.sh: the program's side of a private network
// namespace, the simulated devices behind a veth link. The searches broadcast
// for real and the devices download from the command line's server on port 81.
class tst_FleetNetns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();
    void missingFileSendsNothing();
    void fleetWithinTimeBound();
    void confirmationReportsVersions();
    void wrongFileIsNoSuccess();
    void impostorGetsNothing_data();
    void impostorGetsNothing();

private:
    QString path(const QString &name) const { return work.filePath(name); }
    QStringList served() const { return { QStringLiteral("--folder"), path("html") }; }
    QByteArray logs() const;
    double seconds_until_complete(int fleet_downloads, int dropping_downloads);

    QTemporaryDir work;
    QByteArray image;
    std::unique_ptr<NamespaceSimulator> fleet;
    std::unique_ptr<NamespaceSimulator> ignoring;
    std::unique_ptr<NamespaceSimulator> dropping;
    std::unique_ptr<NamespaceSimulator> rebooting;
    std::unique_ptr<NamespaceSimulator> impostor;
    std::unique_ptr<NamespaceSimulator> genuine;
    std::unique_ptr<NamespaceSimulator> wrong_file;
    CliRun last_run;
    bool failed = false;
};

void tst_FleetNetns::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("ONDASPA_DEVICES_NS"))
        QFAIL("run through fleet-netns-e2e.sh: the search broadcasts on every interface");
    const QString guard = broadcast_guard_error();
    QVERIFY2(guard.isEmpty(), qPrintable(guard));
    QVERIFY(work.isValid());
    QVERIFY(QDir().mkpath(path("html")));
    image = randomBytes(image_size);
    QVERIFY(writeFile(path("html/minifs_rom.img"), image));
    QVERIFY(writeFile(path("html/firmware.bin"), randomBytes(200000)));

    const QString rate = QString::number(read_rate);
    fleet.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("fleet.log")));
    QVERIFY(fleet->start({ "--count", QString::number(fleet_size), "--bind", "198.18.0.2", "--ver",
            "1.0", "--rate", rate, "--save", path("fleet") }));
    ignoring.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("ignoring.log")));
    QVERIFY(ignoring->start({ "--sn", "IGN-1", "--bind", "198.18.0.52", "--ignore-commands" }));
    dropping.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("dropping.log")));
    QVERIFY(dropping->start({ "--sn", "DROP-1", "--bind", "198.18.0.53", "--rate", rate,
            "--drop-after", QString::number(drop_after), "--save", path("drop") }));
}

void tst_FleetNetns::cleanup()
{
    failed = failed || QTest::currentTestFailed();
}

void tst_FleetNetns::cleanupTestCase()
{
    if (failed)
        qInfo().noquote() << "--- command line\n"
                          << last_run.errors << "--- simulators\n"
                          << logs().right(20000);
    wrong_file.reset();
    genuine.reset();
    impostor.reset();
    rebooting.reset();
    dropping.reset();
    ignoring.reset();
    fleet.reset();
}

QByteArray tst_FleetNetns::logs() const
{
    QByteArray all;
    for (const NamespaceSimulator *simulator : { fleet.get(), ignoring.get(), dropping.get(),
                 rebooting.get(), impostor.get(), genuine.get(), wrong_file.get() }) {
        if (simulator)
            all += simulator->log();
    }
    return all;
}

void tst_FleetNetns::missingFileSendsNothing()
{
    last_run = run_cli(QStringList{ "fs", "--all", "--file", "absent.img", "--json" } + served());

    QCOMPARE(last_run.exit_code, 2);
    QVERIFY2(last_run.errors.contains(QStringLiteral("absent.img: no such file")),
            qPrintable(last_run.errors));
    QCOMPARE(last_run.all(QStringLiteral("preflight")).size(), 1);
    QVERIFY(!last_run.all(QStringLiteral("preflight")).first()[QStringLiteral("ok")].toBool());
    // Nothing left the program: no probe, no command.
    QVERIFY(!logs().contains("command type="));
    QVERIFY(!logs().contains("probe from"));
}

// The times here end when the devices say they have it all; "file sent",
// which waits for the devices' acknowledgements, comes within moments.
double tst_FleetNetns::seconds_until_complete(int fleet_downloads, int dropping_downloads)
{
    QDateTime first_command;
    for (const QJsonObject &event : last_run.all(QStringLiteral("state"))) {
        const QDateTime time =
                QDateTime::fromString(event[QStringLiteral("time")].toString(), Qt::ISODateWithMs);
        if (event[QStringLiteral("state")].toString() == QLatin1String("command sent")
                && (!first_command.isValid() || time < first_command))
            first_command = time;
    }
    const QByteArray completed =
            QByteArrayLiteral("result complete, ") + QByteArray::number(image_size) + " bytes";
    const QDeadlineTimer deadline(run_limit);
    while ((fleet->log().count(completed) < fleet_downloads
                   || dropping->log().count(completed) < dropping_downloads)
            && !deadline.hasExpired())
        QTest::qWait(20);
    if (!first_command.isValid() || deadline.hasExpired())
        return -1;
    return double(first_command.msecsTo(QDateTime::currentDateTimeUtc())) / 1000;
}

void tst_FleetNetns::fleetWithinTimeBound()
{
    last_run = run_cli(QStringList{ "fs", "--ip", "198.18.0.2", "--json" } + served());
    QCOMPARE(last_run.exit_code, 0);
    const double alone = seconds_until_complete(1, 0);
    QVERIFY2(alone >= double(image_size) / read_rate, qPrintable(QString::number(alone)));

    last_run = run_cli(QStringList{ "fs", "--all", "--parallel", QString::number(parallel),
                               "--timeout", "5", "--retries", "1", "--json" }
            + served());

    QCOMPARE(last_run.exit_code, 1);
    const double elapsed = seconds_until_complete(fleet_size + 1, 1);
    const double bound = time_bound_factor * std::ceil(double(fleet_size) / parallel) * alone;
    qInfo("one device alone %.1f s; %d devices, %d at once: %.1f s (bound %.1f s)", alone,
            fleet_size + 2, parallel, elapsed, bound);
    QVERIFY(elapsed > 0 && elapsed <= bound);

    const QMap<QString, QJsonObject> devices = last_run.devices();
    QCOMPARE(devices.size(), fleet_size + 2);
    // Every reply of the search was read: the system dropped none.
    const QList<QJsonObject> discovered = last_run.all(QStringLiteral("discovered"));
    QCOMPARE(discovered.size(), 1);
    QCOMPARE(discovered.first()[QStringLiteral("devices")].toInt(), fleet_size + 2);
    QCOMPARE(discovered.first()[QStringLiteral("dropped")].toInt(-1), 0);
    for (int number = 1; number <= fleet_size; ++number) {
        const QString serial_number = QStringLiteral("SN-%1").arg(number, 3, 10, QLatin1Char('0'));
        QCOMPARE(devices.value(serial_number)[QStringLiteral("state")].toString(),
                QStringLiteral("file sent"));
        QVERIFY2(readFile(path("fleet/") + serial_number + "/minifs_rom.img") == image,
                qPrintable(serial_number));
    }
    QCOMPARE(devices.value("IGN-1")[QStringLiteral("state")].toString(),
            QStringLiteral("no answer"));
    QCOMPARE(devices.value("IGN-1")[QStringLiteral("attempts")].toInt(), 2);
    QCOMPARE(ignoring->log().count("ignored, --ignore-commands"), 2);
    QCOMPARE(devices.value("DROP-1")[QStringLiteral("state")].toString(),
            QStringLiteral("file sent"));
    QCOMPARE(devices.value("DROP-1")[QStringLiteral("attempts")].toInt(), 2);
    QVERIFY(dropping->log().contains("result dropped"));
    QVERIFY(readFile(path("drop/minifs_rom.img")) == image);
    QVERIFY(!logs().contains("status 503"));

    // In flight: from "command sent" to the end of the attempt.
    QSet<QString> in_flight;
    int most = 0;
    for (const QJsonObject &event : last_run.all(QStringLiteral("state"))) {
        const QString state = event[QStringLiteral("state")].toString();
        const QString serial_number = event[QStringLiteral("sn")].toString();
        if (state == QLatin1String("command sent"))
            in_flight.insert(serial_number);
        else if (state != QLatin1String("headers asked") && state != QLatin1String("downloading"))
            in_flight.remove(serial_number);
        most = qMax(most, in_flight.size());
    }
    QCOMPARE(most, parallel);
}

void tst_FleetNetns::confirmationReportsVersions()
{
    rebooting.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("rebooting.log")));
    QVERIFY(rebooting->start({ "--sn", "CONF", "--count", "3", "--bind", "198.18.0.54", "--ver",
            "1.0", "--reboot", "1", "--ver-after", "2.0" }));

    last_run =
            run_cli(QStringList{ "update", "--ip", "198.18.0.54-56", "--confirm", "15", "--json" }
                    + served());

    QCOMPARE(last_run.exit_code, 0);
    const QList<QJsonObject> versions = last_run.all(QStringLiteral("versions"));
    QCOMPARE(versions.size(), 3);
    for (const QJsonObject &event : versions) {
        QCOMPARE(event[QStringLiteral("ver_before")].toString(), QStringLiteral("1.0"));
        QCOMPARE(event[QStringLiteral("ver_after")].toString(), QStringLiteral("2.0"));
    }
    for (const QJsonObject &device : last_run.devices())
        QCOMPARE(device[QStringLiteral("state")].toString(), QStringLiteral("back"));
    QCOMPARE(last_run.errors.count(QRegularExpression(QStringLiteral("1\\.0 -> 2\\.0 +back"))), 3);
}

// A device that fetches another file than the announced one is not upgraded: its request is
// reported with its path and the attempt ends by time-out.
void tst_FleetNetns::wrongFileIsNoSuccess()
{
    QVERIFY(writeFile(path("html/other.bin"), "other\n"));
    wrong_file.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("wrong.log")));
    QVERIFY(wrong_file->start(
            { "--sn", "WRONG-1", "--bind", "198.18.0.59", "--fs-path", "/other.bin" }));

    last_run = run_cli(
            QStringList{ "fs", "--ip", "198.18.0.59", "--timeout", "3", "--retries", "0", "--json" }
            + served());

    QCOMPARE(last_run.exit_code, 1);
    QCOMPARE(last_run.summary()[QStringLiteral("succeeded")].toInt(), 0);
    QCOMPARE(last_run.devices().value("WRONG-1")[QStringLiteral("state")].toString(),
            QStringLiteral("no answer"));
    bool reported = false;
    for (const QJsonObject &request : last_run.all(QStringLiteral("request")))
        reported = reported
                || (request[QStringLiteral("path")].toString() == QLatin1String("/other.bin")
                        && request[QStringLiteral("sn")].toString() == QLatin1String("WRONG-1"));
    QVERIFY(reported);
    QVERIFY2(last_run.errors.contains(QStringLiteral("WRONG-1 198.18.0.59 GET /other.bin")),
            qPrintable(last_run.errors));
    QVERIFY(!last_run.errors.contains(QStringLiteral("1 of 1 upgraded")));
}

void tst_FleetNetns::impostorGetsNothing_data()
{
    QTest::addColumn<QStringList>("targets");
    QTest::addColumn<QString>("genuineState");
    // Broadcast: two addresses for one serial number, so neither is trusted.
    QTest::newRow("bySerialNumber") << QStringList{ "--sn", "TWIN-1" } << QString();
    // By address: the named host is the device, whoever answered first.
    QTest::newRow("byAddress") << QStringList{ "--ip", "198.18.0.58", "--sn", "NOBODY" }
                               << QStringLiteral("file sent");
}

void tst_FleetNetns::impostorGetsNothing()
{
    QFETCH(QStringList, targets);
    QFETCH(QString, genuineState);
    if (!impostor) {
        impostor.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("impostor.log")));
        QVERIFY(impostor->start({ "--sn", "TWIN-1", "--bind", "198.18.0.57", "--ver", "6.6" }));
        genuine.reset(new NamespaceSimulator(QStringLiteral(DEVSIM_PATH), path("genuine.log")));
        QVERIFY(genuine->start({ "--sn", "TWIN-1", "--bind", "198.18.0.58", "--ver", "1.0" }));
    }
    const int impostor_commands = impostor->log().count("command type=");
    const int genuine_commands = genuine->log().count("command type=");

    last_run = run_cli(QStringList{ "fs", "--timeout", "10", "--json" } + targets + served());

    QCOMPARE(last_run.exit_code, 1);
    QCOMPARE(impostor->log().count("command type="), impostor_commands);
    QVERIFY2(!last_run.all(QStringLiteral("conflict")).isEmpty(), qPrintable(last_run.errors));
    QVERIFY2(last_run.errors.contains(QStringLiteral("198.18.0.57")), qPrintable(last_run.errors));
    if (genuineState.isEmpty()) {
        QCOMPARE(genuine->log().count("command type="), genuine_commands);
        QVERIFY2(last_run.errors.contains(QStringLiteral("serial-number conflict, no command to "
                                                         "either")),
                qPrintable(last_run.errors));
        QVERIFY(last_run.errors.contains(QStringLiteral("198.18.0.58")));
    } else {
        QCOMPARE(last_run.devices().value("TWIN-1")[QStringLiteral("address")].toString(),
                QStringLiteral("198.18.0.58"));
        QCOMPARE(last_run.devices().value("TWIN-1")[QStringLiteral("state")].toString(),
                genuineState);
        QVERIFY(!last_run.errors.contains(QStringLiteral("198.18.0.58 did not answer")));
    }
}

QTEST_GUILESS_MAIN(tst_FleetNetns)
#include "tst_fleet_netns.moc"
