#include "devicemessages.h"
#include "fleetengine.h"
#include "fleettestsupport.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

using State = FleetDevice::State;
using Outcome = DownloadReport::Outcome;
using Problem = FleetPreflight::Problem;

// Time-out of the runs below, in ms.
constexpr int timeout = 5000;
constexpr qint64 image_size = fleet_image_size;

} // namespace

Q_DECLARE_METATYPE(FleetPreflight::Problem)

class tst_FleetEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void repliesAddEachDeviceOnce();
    void searchProbesTransportsNetworks();
    void claimedSerialNumberChangesNothing();
    void namedHostTakesItsClaimOver();
    void preflightRefusalSendsNothing_data();
    void preflightRefusalSendsNothing();
    void preflightReportsSizeAndHash();
    void attempts_data();
    void attempts();
    void parallelLimitNeverExceeded_data();
    void parallelLimitNeverExceeded();
    void confirmation();
    void comingBack_data();
    void comingBack();
    void reportsMatchedByPeerAddress_data();
    void reportsMatchedByPeerAddress();
    void otherFileReportedWithItsDevice();
    void fileRecheckedAtRunEnd_data();
    void fileRecheckedAtRunEnd();
    void endedDeviceFollowedWhileRunGoesOn();
    void stopSendsNoFurtherCommands();
    void percentFollowsWhatDeviceHas();
    void canariesFirst();
    void failedCanaryHaltsRun_data();
    void failedCanaryHaltsRun();
    void budgetHaltsAtItsDevice_data();
    void budgetHaltsAtItsDevice();
    void upToDateGetsNoCommand();
    void failureBudgetParsed_data();
    void failureBudgetParsed();

private:
    void add_devices(int count);
    static FleetEngine::Run planned(int parallel, int retries = 0, int confirm_ms = 0);
    bool start(int parallel, int retries = 0, int confirm_ms = 0, int count = -1);
    bool start_run(const FleetEngine::Run &run, int count = -1);
    int commands_sent() const;
    FleetEngine::Summary summary_of(const QSignalSpy &finished) const;

    QTemporaryDir folder;
    std::unique_ptr<FleetEngineRig> fleet;
};

void tst_FleetEngine::initTestCase()
{
    QVERIFY(serve_fleet_image(folder));
}

void tst_FleetEngine::init()
{
    fleet.reset(new FleetEngineRig);
}

void tst_FleetEngine::cleanup()
{
    fleet.reset();
}

void tst_FleetEngine::add_devices(int count)
{
    for (int number = 0; number < count; ++number)
        fleet->engine.take_datagram(
                reply(QStringLiteral("SN-%1").arg(number), "1.0"), device_address(number));
    QCOMPARE(fleet->engine.device_count(), count);
}

FleetEngine::Run tst_FleetEngine::planned(int parallel, int retries, int confirm_ms)
{
    FleetEngine::Run run;
    run.type = DeviceMessages::file_system_type();
    run.file_name = QStringLiteral("image.bin");
    run.parallel = parallel;
    run.timeout_ms = timeout;
    run.retries = retries;
    run.confirm_ms = confirm_ms;
    return run;
}

bool tst_FleetEngine::start(int parallel, int retries, int confirm_ms, int count)
{
    return start_run(planned(parallel, retries, confirm_ms), count);
}

int tst_FleetEngine::commands_sent() const
{
    int count = 0;
    for (const RecordingFleetTransport::Datagram &datagram : qAsConst(fleet->transport.sent))
        count += datagram.bytes.contains("\"fs\"") ? 1 : 0;
    return count;
}

FleetEngine::Summary tst_FleetEngine::summary_of(const QSignalSpy &finished) const
{
    return finished.count() == 1 ? finished.first().first().value<FleetEngine::Summary>()
                                 : FleetEngine::Summary();
}

bool tst_FleetEngine::start_run(const FleetEngine::Run &run, int count)
{
    QVector<int> indexes;
    for (int index = 0; index < (count < 0 ? fleet->engine.device_count() : count); ++index)
        indexes << index;
    return fleet->engine.start(run, indexes);
}

void tst_FleetEngine::repliesAddEachDeviceOnce()
{
    QSignalSpy added(&fleet->engine, &FleetEngine::device_added);
    QVERIFY(fleet->engine.take_datagram(reply("A", "1.0"), device_address(1)));
    QVERIFY(fleet->engine.take_datagram(reply("A", "1.0"), device_address(1)));
    // The same device answering on a second network.
    QVERIFY(fleet->engine.take_datagram(reply("A", "1.0"), device_address(2)));
    QVERIFY(!fleet->engine.take_datagram(DeviceMessages::probe(), device_address(3)));
    QVERIFY(!fleet->engine.take_datagram("not json", device_address(4)));
    QVERIFY(fleet->engine.take_datagram(
            reply("B"), QHostAddress(QStringLiteral("::ffff:198.18.0.15"))));
    QCOMPARE(added.count(), 2);
    QCOMPARE(fleet->engine.claims(0), QList<QHostAddress>{ device_address(2) });
    QCOMPARE(fleet->engine.device(1).address, device_address(5));
    QCOMPARE(fleet->engine.device(0).version, QStringLiteral("1.0"));
}

// An impostor answering first with a device's serial number neither becomes
// that device nor hides it.
void tst_FleetEngine::claimedSerialNumberChangesNothing()
{
    QSignalSpy conflicts(&fleet->engine, &FleetEngine::serial_conflict);
    QVERIFY(fleet->engine.take_datagram(reply("A", "1.0"), device_address(1)));
    QVERIFY(fleet->engine.take_datagram(reply("A", "6.6"), device_address(9)));
    QVERIFY(fleet->engine.take_datagram(reply("A", "6.6"), device_address(9)));
    QCOMPARE(fleet->engine.device_count(), 1);
    QCOMPARE(fleet->engine.device(0).address, device_address(1));
    QCOMPARE(fleet->engine.device(0).version, QStringLiteral("1.0"));
    QCOMPARE(fleet->engine.find_device(device_address(9)), -1);
    QCOMPARE(fleet->engine.find_claimant(device_address(9)), 0);
    QCOMPARE(fleet->engine.find_claimant(device_address(2)), -1);
    QCOMPARE(conflicts.count(), 1);
    QCOMPARE(conflicts.first().at(1).toString(), device_address(9).toString());
}

void tst_FleetEngine::namedHostTakesItsClaimOver()
{
    QVERIFY(fleet->engine.take_datagram(reply("A", "6.6"), device_address(9)));
    QVERIFY(fleet->engine.take_datagram(reply("A", "1.0"), device_address(1)));
    QVERIFY(!fleet->engine.take_claim(0, device_address(2)));
    QVERIFY(fleet->engine.take_claim(0, device_address(1)));
    QCOMPARE(fleet->engine.device(0).address, device_address(1));
    QCOMPARE(fleet->engine.device(0).version, QStringLiteral("1.0"));
    QCOMPARE(fleet->engine.claims(0), QList<QHostAddress>{ device_address(9) });
    QCOMPARE(fleet->engine.find_device(device_address(1)), 0);
}

// Only the transport's networks are searched, never the machine's.
void tst_FleetEngine::searchProbesTransportsNetworks()
{
    QCOMPARE(fleet->engine.search(), 0);
    QVERIFY(fleet->transport.sent.isEmpty());
    QNetworkAddressEntry loopback;
    loopback.setIp(QHostAddress(QHostAddress::LocalHost));
    loopback.setBroadcast(QHostAddress(QStringLiteral("127.255.255.255")));
    QNetworkAddressEntry lan;
    lan.setIp(QHostAddress(QStringLiteral("198.18.0.1")));
    lan.setBroadcast(QHostAddress(QStringLiteral("198.18.0.255")));
    fleet->transport.entries = { loopback, lan };
    fleet->engine.set_device_port(5353);
    QCOMPARE(fleet->engine.search(), 1);
    QCOMPARE(fleet->transport.sent.size(), DeviceMessages::probes_per_search);
    for (const RecordingFleetTransport::Datagram &datagram : qAsConst(fleet->transport.sent)) {
        QCOMPARE(datagram.address, QHostAddress(QStringLiteral("198.18.0.255")));
        QCOMPARE(datagram.port, quint16(5353));
        QCOMPARE(datagram.bytes, DeviceMessages::probe());
    }
}

void tst_FleetEngine::preflightRefusalSendsNothing_data()
{
    QTest::addColumn<QString>("file_name");
    QTest::addColumn<Problem>("problem");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "absent.bin" << Problem::NoSuchFile << "absent.bin: no such file";
    QTest::newRow("folder") << "sub" << Problem::NotRegularFile << "sub: not a regular file";
    QTest::newRow("fifo") << "pipe" << Problem::NotRegularFile << "pipe: not a regular file";
    QTest::newRow("climbsOut") << "../image.bin" << Problem::LeavesFolder
                               << "../image.bin: the name leaves the served folder";
    QTest::newRow("backslash") << "sub\\..\\image.bin" << Problem::LeavesFolder
                               << "sub\\..\\image.bin: the name leaves the served folder";
    QTest::newRow("empty") << "" << Problem::NoName << "no file named";
}

void tst_FleetEngine::preflightRefusalSendsNothing()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, file_name);
    QFETCH(Problem, problem);
    QFETCH(QString, reason);
    QDir(folder.path()).mkdir(QStringLiteral("sub"));
    ::mkfifo(QFile::encodeName(folder.filePath(QStringLiteral("pipe"))).constData(), 0600);
    add_devices(2);
    QSignalSpy checked(&fleet->engine, &FleetEngine::preflight_checked);
    FleetEngine::Run run;
    run.type = DeviceMessages::firmware_type();
    run.file_name = file_name;
    QString error;
    QVERIFY(!fleet->engine.start(run, { 0, 1 }, &error));
    QVERIFY2(error.endsWith(reason), qPrintable(error));
    QCOMPARE(checked.count(), 1);
    const auto preflight = checked.first().first().value<FleetPreflight>();
    QVERIFY(!preflight.ok);
    QCOMPARE(preflight.problem, problem);
    QCOMPARE(preflight.problem_text(), error);
    QVERIFY(fleet->transport.sent.isEmpty());
    QVERIFY(!fleet->engine.is_running());
#else
    QSKIP("symbolic links and FIFOs are POSIX files");
#endif
}

void tst_FleetEngine::preflightReportsSizeAndHash()
{
    QFile file(folder.filePath(QStringLiteral("abc")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("abc");
    file.close();
    const FleetPreflight checked = FleetEngine::preflight(QStringLiteral("/abc"));
    QVERIFY(checked.ok);
    QCOMPARE(checked.file_name, QStringLiteral("abc"));
    QCOMPARE(checked.size, qint64(3));
    QCOMPARE(checked.sha256,
            QByteArray("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}

void tst_FleetEngine::attempts_data()
{
    QTest::addColumn<int>("retries");
    // What happens, in order: a report of the file service (method and
    // outcome; "GET" alone is progress), or "almost" / "tick" / "wait": the
    // clock moves to 1 ms before the time-out, by 1 ms, by the whole time-out.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<State>>("states");

    QTest::newRow("timeout") << 0 << QStringList{ "almost", "tick" }
                             << QList<State>{ State::CommandSent, State::NoAnswer };
    QTest::newRow("timeoutRetried") << 1 << QStringList{ "wait", "almost", "tick" }
                                    << QList<State>{ State::CommandSent, State::NoAnswer,
                                           State::CommandSent, State::NoAnswer };
    QTest::newRow("headThenSilence")
            << 0 << QStringList{ "HEAD done", "almost", "tick" }
            << QList<State>{ State::CommandSent, State::HeadersAsked, State::NoAnswer };
    QTest::newRow("interruptedRetried")
            << 1 << QStringList{ "HEAD done", "GET", "GET cut", "GET", "GET done" }
            << QList<State>{ State::CommandSent, State::HeadersAsked, State::Downloading,
                   State::Interrupted, State::CommandSent, State::Downloading, State::FileSent };
    QTest::newRow("interruptedTwice") << 1 << QStringList{ "GET cut", "GET cut" }
                                      << QList<State>{ State::CommandSent, State::Interrupted,
                                             State::CommandSent, State::Interrupted };
    QTest::newRow("missingFileNotRetried") << 3 << QStringList{ "GET missing" }
                                           << QList<State>{ State::CommandSent, State::NotFound };
    // Downloads are ended by the server, never by the time-out.
    QTest::newRow("slowDownloadNotTimedOut")
            << 0 << QStringList{ "GET", "wait", "wait", "GET done" }
            << QList<State>{ State::CommandSent, State::Downloading, State::FileSent };
    // The HEAD's connection may report after its GET began on another.
    QTest::newRow("lateHeadReport")
            << 0 << QStringList{ "GET", "HEAD done", "wait", "GET done" }
            << QList<State>{ State::CommandSent, State::Downloading, State::FileSent };
    // A device that answers its first command late is followed all the same.
    // Success is the announced file only, sent whole; other requests are reported and end
    // nothing.
    QTest::newRow("otherFileNoSuccess") << 0 << QStringList{ "GET done other", "almost", "tick" }
                                        << QList<State>{ State::CommandSent, State::NoAnswer };
    QTest::newRow("otherFileThenRunFile")
            << 0 << QStringList{ "GET missing other", "GET cut other", "GET done" }
            << QList<State>{ State::CommandSent, State::FileSent };
    QTest::newRow("completeButShortInterrupted")
            << 0 << QStringList{ "GET short" }
            << QList<State>{ State::CommandSent, State::Interrupted };
    QTest::newRow("sameFileOtherSpelling") << 0 << QStringList{ "GET done spelled" }
                                           << QList<State>{ State::CommandSent, State::FileSent };
    QTest::newRow("lateDeviceFollowed")
            << 1 << QStringList{ "wait", "GET", "GET done" }
            << QList<State>{ State::CommandSent, State::NoAnswer, State::CommandSent,
                   State::Downloading, State::FileSent };
}

// "GET done other": method, outcome ("short": complete with half the bytes) and path
// ("other": /other.bin, "spelled": the run's file as //./image.bin).
static DownloadReport step_report(const QString &step)
{
    const QMap<QString, Outcome> outcomes{ { "done", Outcome::Complete },
        { "short", Outcome::Complete }, { "cut", Outcome::Interrupted },
        { "missing", Outcome::NotFound } };
    const QString outcome = step.section(' ', 1, 1);
    DownloadReport result = report(0, step.section(' ', 0, 0).toLatin1(),
            outcomes.value(outcome, Outcome::InProgress),
            outcome == QLatin1String("done")            ? image_size
                    : outcome == QLatin1String("short") ? image_size / 2
                                                        : 0);
    if (step.section(' ', 2) == QLatin1String("other"))
        result.path = QStringLiteral("/other.bin");
    else if (step.section(' ', 2) == QLatin1String("spelled"))
        result.path = QStringLiteral("//./image.bin");
    return result;
}

void tst_FleetEngine::attempts()
{
    QFETCH(int, retries);
    QFETCH(QStringList, steps);
    QFETCH(QList<State>, states);
    add_devices(1);
    QList<State> seen;
    connect(&fleet->engine, &FleetEngine::state_changed, this,
            [&seen](int, State state) { seen << state; });
    QVERIFY(start(1, retries));
    for (const QString &step : steps) {
        if (step == QLatin1String("almost") || step == QLatin1String("wait"))
            fleet->clock.advance(step == QLatin1String("wait") ? timeout : timeout - 1);
        else if (step == QLatin1String("tick"))
            fleet->clock.advance(1);
        else
            fleet->engine.take_report(step_report(step));
    }
    QCOMPARE(seen, states);
    QCOMPARE(fleet->engine.device(0).attempts, int(states.count(State::CommandSent)));
    QCOMPARE(fleet->transport.sent.size(), fleet->engine.device(0).attempts);
    QVERIFY(!fleet->engine.is_running());
}

void tst_FleetEngine::parallelLimitNeverExceeded_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("parallel");
    QTest::newRow("oneAtATime") << 5 << 1;
    QTest::newRow("tenByThree") << 10 << 3;
    QTest::newRow("limitAboveCount") << 4 << 8;
    QTest::newRow("fiftyBySixteen") << 50 << 16;
}

// Devices finish in a random order, some by time-out; after every change no
// more than the limit may be under way, and no fewer while any waits.
void tst_FleetEngine::parallelLimitNeverExceeded()
{
    QFETCH(int, devices);
    QFETCH(int, parallel);
    add_devices(devices);
    int waiting = devices;
    int highest = 0;
    connect(&fleet->engine, &FleetEngine::state_changed, this, [&](int, State state) {
        if (state == State::CommandSent)
            --waiting;
        highest = qMax(highest, fleet->engine.active_count());
    });
    QVERIFY(start(parallel));
    QRandomGenerator random(devices * 100 + parallel);
    while (fleet->engine.is_running()) {
        QCOMPARE(fleet->engine.active_count(),
                qMin(parallel, fleet->engine.active_count() + waiting));
        QVector<int> active;
        for (int index = 0; index < devices; ++index) {
            if (FleetDevice::is_active(fleet->engine.device(index).state))
                active << index;
        }
        const int chosen = active.at(int(random.bounded(active.size())));
        if (random.bounded(5) == 0)
            fleet->clock.advance(timeout);
        else
            fleet->engine.take_report(report(chosen, "GET", Outcome::Complete, image_size));
    }
    QCOMPARE(highest, qMin(parallel, devices));
    QCOMPARE(waiting, 0);
}

void tst_FleetEngine::confirmation()
{
    add_devices(2);
    QSignalSpy versions(&fleet->engine, &FleetEngine::versions_known);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    QVERIFY(start(1, 0, 10000));
    fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    QCOMPARE(fleet->engine.device(0).state, State::FileSent);
    // Waiting to come back does not hold the device's slot.
    QCOMPARE(fleet->engine.device(1).state, State::CommandSent);
    fleet->engine.take_report(report(1, "GET", Outcome::Complete, image_size));

    fleet->clock.advance(FleetEngine::confirm_probe_interval_ms * 3);
    QCOMPARE(fleet->transport.count_to(device_address(0), "hellotavirex"), 3);
    fleet->engine.take_datagram(reply("SN-0", "2.0"), device_address(0));
    QCOMPARE(fleet->engine.device(0).state, State::Back);
    QCOMPARE(versions.count(), 1);
    QCOMPARE(versions.first().at(1).toString(), QStringLiteral("1.0"));
    QCOMPARE(versions.first().at(2).toString(), QStringLiteral("2.0"));

    fleet->clock.advance(10000);
    QCOMPARE(fleet->engine.device(1).state, State::NotBack);
    QCOMPARE(finished.count(), 1);
    const auto summary = finished.first().first().value<FleetEngine::Summary>();
    QCOMPARE(summary.succeeded, 1);
    QCOMPARE(summary.failed, 1);
}

void tst_FleetEngine::comingBack_data()
{
    QTest::addColumn<QString>("type");
    // The device's answer to each probe, one a second: its "ver", or "-" for none.
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<State>("state");
    const QString fs = DeviceMessages::file_system_type();
    const QString firmware = DeviceMessages::firmware_type();
    QTest::newRow("gapThenSameVersion") << fs << QStringList{ "1.0", "-", "1.0" } << State::Back;
    QTest::newRow("newVersionAtOnce") << fs << QStringList{ "2.0" } << State::Back;
    QTest::newRow("neverRestarted")
            << fs << QStringList{ "1.0", "1.0", "1.0", "1.0" } << State::NotBack;
    QTest::newRow("firmwareGapThenSameVersion")
            << firmware << QStringList{ "1.0", "-", "1.0" } << State::NotUpgraded;
    QTest::newRow("firmwareGapThenNewVersion")
            << firmware << QStringList{ "1.0", "-", "2.0" } << State::Back;
}

// A device answers the first probes before it restarts: only a gap or a
// new version shows that it came back.
void tst_FleetEngine::comingBack()
{
    QFETCH(QString, type);
    QFETCH(QStringList, answers);
    QFETCH(State, state);
    add_devices(1);
    constexpr int confirm_ms = 5000;
    FleetEngine::Run run = planned(1, 0, confirm_ms);
    run.type = type;
    QVERIFY(start_run(run));
    fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    for (const QString &answer : answers) {
        fleet->clock.advance(FleetEngine::confirm_probe_interval_ms);
        if (answer != QLatin1String("-"))
            fleet->engine.take_datagram(reply("SN-0", answer), device_address(0));
    }
    fleet->clock.advance(confirm_ms);
    QCOMPARE(fleet->engine.device(0).state, state);
    QCOMPARE(fleet->engine.device(0).version_after,
            state == State::NotBack ? QString() : answers.last());
}

void tst_FleetEngine::reportsMatchedByPeerAddress_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("matched");
    QTest::newRow("plain") << "198.18.0.11" << 1;
    QTest::newRow("ipv4Mapped") << "::ffff:198.18.0.11" << 1;
    QTest::newRow("unknown") << "198.18.0.99" << -1;
    QTest::newRow("notInRun") << "198.18.0.12" << -1;
}

void tst_FleetEngine::reportsMatchedByPeerAddress()
{
    QFETCH(QString, peer);
    QFETCH(int, matched);
    add_devices(3);
    QSignalSpy answered(&fleet->engine, &FleetEngine::request_answered);
    QVERIFY(start(3, 0, 0, 2));
    DownloadReport head = report(0, "HEAD", Outcome::Complete);
    head.peer = QHostAddress(peer);
    fleet->engine.take_report(head);
    for (int index = 0; index < 3; ++index) {
        const State expected = index == matched ? State::HeadersAsked
                : index < 2                     ? State::CommandSent
                                                : State::Listed;
        QCOMPARE(fleet->engine.device(index).state, expected);
    }
    QCOMPARE(answered.count(), 1);
    QCOMPARE(answered.first().at(1).toInt(), matched);
}

void tst_FleetEngine::otherFileReportedWithItsDevice()
{
    add_devices(1);
    QSignalSpy answered(&fleet->engine, &FleetEngine::request_answered);
    QVERIFY(start(1));
    fleet->engine.take_report(step_report(QStringLiteral("GET done other")));
    QCOMPARE(answered.count(), 1);
    QCOMPARE(answered.first().at(1).toInt(), 0);
    QCOMPARE(answered.first().at(0).value<DownloadReport>().path, QStringLiteral("/other.bin"));
    QCOMPARE(fleet->engine.device(0).state, State::CommandSent);
}

void tst_FleetEngine::fileRecheckedAtRunEnd_data()
{
    QTest::addColumn<QByteArray>("during");
    QTest::addColumn<bool>("changed");
    QTest::newRow("unchanged") << QByteArray() << false;
    QTest::newRow("rewrittenSameSize") << QByteArray(int(image_size), 'y') << true;
}

void tst_FleetEngine::fileRecheckedAtRunEnd()
{
    QFETCH(QByteArray, during);
    QFETCH(bool, changed);
    add_devices(1);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    QVERIFY(start(1));
    if (!during.isEmpty()) {
        QFile image(ServedFolder::current() + QStringLiteral("/image.bin"));
        QVERIFY(image.open(QIODevice::WriteOnly));
        QCOMPARE(image.write(during), qint64(during.size()));
    }
    fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    QCOMPARE(finished.count(), 1);
    const auto summary = finished.first().first().value<FleetEngine::Summary>();
    QCOMPARE(summary.file_changed(), changed);
    QCOMPARE(summary.sha256_before.size(), 64);
    QCOMPARE(summary.sha256_after.size(), 64);
    QVERIFY(serve_fleet_image(folder));
}

void tst_FleetEngine::endedDeviceFollowedWhileRunGoesOn()
{
    add_devices(2);
    QVERIFY(start(2));
    fleet->engine.take_report(report(1, "GET", Outcome::InProgress));
    fleet->clock.advance(timeout);
    QCOMPARE(fleet->engine.device(0).state, State::NoAnswer);
    fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    QCOMPARE(fleet->engine.device(0).state, State::FileSent);
}

void tst_FleetEngine::stopSendsNoFurtherCommands()
{
    add_devices(3);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    QVERIFY(start(1, 2));
    QSignalSpy changed(&fleet->engine, &FleetEngine::state_changed);
    fleet->engine.stop();
    QVERIFY(fleet->engine.is_running());
    // Shown at once, not after the device under way has timed out.
    QCOMPARE(changed.count(), 2);
    QCOMPARE(fleet->engine.device(1).state, State::NotStarted);
    QCOMPARE(fleet->engine.device(2).state, State::NotStarted);
    fleet->clock.advance(timeout);
    QCOMPARE(fleet->engine.device(0).state, State::NoAnswer);
    QCOMPARE(fleet->transport.sent.size(), 1);
    QCOMPARE(finished.count(), 1);
    const auto summary = finished.first().first().value<FleetEngine::Summary>();
    QVERIFY(summary.stopped);
    QCOMPARE(summary.not_started, 2);
    QCOMPARE(summary.failed, 1);
    QCOMPARE(summary.succeeded, 0);
}

// The system's buffers take most of an image long before the device has it:
// the percentage counts what the device acknowledged, where that is known.
void tst_FleetEngine::percentFollowsWhatDeviceHas()
{
    add_devices(2);
    QSignalSpy progress(&fleet->engine, &FleetEngine::progress_changed);
    QVERIFY(start(2));
    DownloadReport buffered = report(0, "GET", Outcome::InProgress, 900);
    buffered.bytes_acknowledged = 120;
    fleet->engine.take_report(buffered);
    QCOMPARE(fleet->engine.device(0).percent, 12);
    QCOMPARE(fleet->engine.device(0).bytes, quint64(900));
    QCOMPARE(fleet->engine.device(0).acknowledged, qint64(120));
    buffered.bytes_sent = image_size;
    buffered.bytes_acknowledged = 640;
    fleet->engine.take_report(buffered);
    QCOMPARE(fleet->engine.device(0).percent, 64);
    // Where the system cannot tell, the bytes handed over are all there is.
    fleet->engine.take_report(report(1, "GET", Outcome::InProgress, 900));
    QCOMPARE(fleet->engine.device(1).percent, 90);
    QCOMPARE(fleet->engine.device(1).acknowledged, qint64(-1));
    QCOMPARE(progress.count(), 3);
}

// Canaries alone get commands, whatever the parallel limit, until each has succeeded.
void tst_FleetEngine::canariesFirst()
{
    add_devices(5);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    FleetEngine::Run run = planned(8);
    run.canary = 2;
    QVERIFY(start_run(run));
    QCOMPARE(commands_sent(), 2);
    QCOMPARE(fleet->engine.device(2).state, State::Listed);
    fleet->engine.take_report(report(1, "GET", Outcome::Complete, image_size));
    QCOMPARE(commands_sent(), 2);
    fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
    QCOMPARE(commands_sent(), 5);
    for (int index = 2; index < 5; ++index)
        fleet->engine.take_report(report(index, "GET", Outcome::Complete, image_size));
    const FleetEngine::Summary summary = summary_of(finished);
    QCOMPARE(summary.succeeded, 5);
    QCOMPARE(summary.halt, RolloutGate::Halt::None);
    QVERIFY(summary.halt_reason.isEmpty());
}

void tst_FleetEngine::failedCanaryHaltsRun_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("confirm_ms");
    QTest::addColumn<QString>("reason");
    QTest::newRow("noAnswerAfterRetry")
            << DeviceMessages::file_system_type() << 0 << "canary SN-0 failed: no answer";
    QTest::newRow("firmwareNotUpgraded")
            << DeviceMessages::firmware_type() << 10000 << "canary SN-0 failed: not upgraded";
}

// The other canary goes on; the rest get nothing and are not started, not failed.
void tst_FleetEngine::failedCanaryHaltsRun()
{
    QFETCH(QString, type);
    QFETCH(int, confirm_ms);
    QFETCH(QString, reason);
    add_devices(5);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    FleetEngine::Run run = planned(8, 1, confirm_ms);
    run.type = type;
    run.canary = 2;
    QVERIFY(start_run(run));
    if (confirm_ms == 0) {
        fleet->clock.advance(timeout);
        QCOMPARE(fleet->engine.device(0).attempts, 2);
        fleet->clock.advance(timeout - 1);
        fleet->engine.take_report(report(1, "GET", Outcome::InProgress, image_size / 2));
        fleet->clock.advance(1);
    } else {
        fleet->engine.take_report(report(0, "GET", Outcome::Complete, image_size));
        fleet->clock.advance(FleetEngine::confirm_probe_interval_ms * 2);
        fleet->engine.take_datagram(reply("SN-0", "1.0"), device_address(0));
    }
    QVERIFY(fleet->engine.is_running());
    fleet->engine.take_report(report(1, "GET", Outcome::Complete, image_size));
    if (confirm_ms > 0)
        fleet->clock.advance(confirm_ms);
    for (int index = 2; index < 5; ++index) {
        QCOMPARE(fleet->engine.device(index).state, State::NotStarted);
        QCOMPARE(fleet->transport.count_to(device_address(index), "\"sn\""), 0);
    }
    const FleetEngine::Summary summary = summary_of(finished);
    QCOMPARE(summary.halt, RolloutGate::Halt::CanaryFailed);
    QCOMPARE(summary.halt_device, 0);
    QCOMPARE(summary.halt_reason, reason);
    QCOMPARE(summary.failed, confirm_ms > 0 ? 2 : 1);
    QCOMPARE(summary.not_started, 3);
    QVERIFY(!summary.stopped);
}

void tst_FleetEngine::budgetHaltsAtItsDevice_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("parallel");
    QTest::addColumn<QString>("budget");
    QTest::addColumn<int>("commands");
    QTest::addColumn<int>("halted_by");
    QTest::newRow("countTwo") << 10 << 1 << "2" << 3 << 2;
    QTest::newRow("percentOfTen") << 10 << 1 << "20%" << 3 << 2;
    QTest::newRow("percentRoundsDown") << 9 << 1 << "25%" << 3 << 2;
    QTest::newRow("zero") << 10 << 1 << "0" << 1 << 0;
    QTest::newRow("underWayEndAsTheyWill") << 10 << 3 << "1" << 3 << 1;
    QTest::newRow("neverSpent") << 3 << 1 << "3" << 3 << -1;
}

// Every device times out; the run halts at the first failure over the budget.
void tst_FleetEngine::budgetHaltsAtItsDevice()
{
    QFETCH(int, devices);
    QFETCH(int, parallel);
    QFETCH(QString, budget);
    QFETCH(int, commands);
    QFETCH(int, halted_by);
    add_devices(devices);
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    FleetEngine::Run run = planned(parallel);
    QVERIFY(FailureBudget::parse(budget, &run.max_failures));
    QVERIFY(start_run(run));
    for (int round = 0; round < devices && fleet->engine.is_running(); ++round)
        fleet->clock.advance(timeout);
    QCOMPARE(commands_sent(), commands);
    const FleetEngine::Summary summary = summary_of(finished);
    QCOMPARE(summary.halt_device, halted_by);
    QCOMPARE(summary.halt,
            halted_by < 0 ? RolloutGate::Halt::None : RolloutGate::Halt::TooManyFailures);
    QCOMPARE(summary.failed, commands);
    QCOMPARE(summary.not_started, devices - commands);
    if (halted_by >= 0)
        QVERIFY2(summary.halt_reason.startsWith(
                         QStringLiteral("SN-%1 failed: no answer; ").arg(halted_by)),
                qPrintable(summary.halt_reason));
}

// A device already at the version is neither commanded nor a canary.
void tst_FleetEngine::upToDateGetsNoCommand()
{
    fleet->engine.take_datagram(reply(QStringLiteral("SN-NEW"), "2.0"), device_address(9));
    fleet->engine.take_datagram(reply(QStringLiteral("SN-OLD"), "1.0"), device_address(1));
    QSignalSpy finished(&fleet->engine, &FleetEngine::run_finished);
    FleetEngine::Run run = planned(8);
    run.skip_version = QStringLiteral("2.0");
    run.canary = 1;
    QVERIFY(start_run(run));
    QCOMPARE(fleet->engine.device(0).state, State::UpToDate);
    QCOMPARE(fleet->engine.device(1).state, State::CommandSent);
    fleet->engine.take_report(report(1, "GET", Outcome::Complete, image_size));
    QCOMPARE(commands_sent(), 1);
    const FleetEngine::Summary summary = summary_of(finished);
    QCOMPARE(summary.up_to_date, 1);
    QCOMPARE(summary.succeeded, 1);
    QCOMPARE(summary.failed, 0);
}

void tst_FleetEngine::failureBudgetParsed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("allowed_of_50");
    QTest::newRow("count") << "3" << 3;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("percent") << "10%" << 5;
    QTest::newRow("percentAtLimit") << "100%" << 50;
    QTest::newRow("percentOverLimit") << "101%" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("sign") << "+1" << -1;
    QTest::newRow("fraction") << "1.5" << -1;
    QTest::newRow("percentOnly") << "%" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("overMaximum") << "100001" << -1;
}

void tst_FleetEngine::failureBudgetParsed()
{
    QFETCH(QString, text);
    QFETCH(int, allowed_of_50);
    FailureBudget budget;
    QCOMPARE(FailureBudget::parse(text, &budget), allowed_of_50 >= 0);
    QCOMPARE(budget.allowed(50), allowed_of_50);
    if (budget.is_on())
        QCOMPARE(budget.text(), text);
}

QTEST_GUILESS_MAIN(tst_FleetEngine)
#include "tst_fleetengine.moc"
