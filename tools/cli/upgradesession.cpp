#include "upgradesession.h"

#include "devicemessages.h"
#include "fleetreport.h"
#include "httpconnectionhandlerpool.h"
#include "httplistener.h"
#include "myrequesthandler.h"
#include "portrefusal.h"
#include "servedfolder.h"

#include <QFileInfo>

namespace {

FleetEngine::Run plannedRun(const UpgradeOptions &options)
{
    FleetEngine::Run run;
    run.type = options.type;
    run.http_port = options.port;
    run.file_name = options.file;
    run.parallel = options.parallel;
    run.timeout_ms = options.timeoutMs;
    run.retries = options.retries;
    run.confirm_ms = options.confirmMs;
    run.canary = options.canary;
    run.max_failures = options.maxFailures;
    run.skip_version = options.skipVersion;
    return run;
}

// After the probes, replies are collected this long, in ms: devices answer
// within milliseconds, but a busy network or device may take a moment.
constexpr int collectMs = 2000;
// Unicast probes go again this often to addresses that have not answered.
constexpr int collectTickMs = 500;
// The server's thread pool and per-address cap: at least the server's own
// default, and room for every device in flight twice (a device's next
// request may arrive before its last connection's thread is free).
constexpr int spareConnections = 8;
// When the run ends, the server's connections are given this long (in ms) to
// finish, polled this often; then the server closes. Only a download of a
// device of the run that is under way is waited for beyond it, up to
// drainLimitMs (a peer that takes no data is cut by the server after 30 s).
constexpr int drainGraceMs = 2000;
constexpr int drainLimitMs = 60000;
constexpr int drainPollMs = 20;

} // namespace

UpgradeSession::UpgradeSession(const UpgradeOptions &options)
    : options(options), engine(transport),
      console(engine, plannedRun(options), options.json, options.arguments, options.valuedOptions),
      recorder(engine)
{
    engine.set_device_port(options.devicePort);
    transport.setReceiver([this](const QByteArray &datagram, const QHostAddress &sender) {
        engine.take_datagram(datagram, sender);
    });
    connect(&engine, &FleetEngine::device_added, this,
            [this](int index) { console.deviceFound(index); });
    connect(&engine, &FleetEngine::state_changed, this,
            [this](int index) { console.stateChanged(index); });
    connect(&engine, &FleetEngine::progress_changed, this,
            [this](int index, int percent) { console.progressChanged(index, percent); });
    connect(&engine, &FleetEngine::versions_known, this,
            [this](int index) { console.versionsKnown(index); });
    connect(&engine, &FleetEngine::request_answered, this,
            [this](const DownloadReport &report, int index) {
                console.requestAnswered(report, index);
            });
    connect(&engine, &FleetEngine::run_finished, this, &UpgradeSession::finish);
    collectTimer.setInterval(collectTickMs);
    connect(&collectTimer, &QTimer::timeout, this, &UpgradeSession::collect);
    drainTimer.setInterval(drainPollMs);
    connect(&drainTimer, &QTimer::timeout, this, &UpgradeSession::drain);
}

UpgradeSession::~UpgradeSession()
{
    listener.reset();
    ServedFolder::set_provider(nullptr);
}

int UpgradeSession::run()
{
    ServedFolder::set_provider([this] { return options.folder; });
    // Nothing leaves before the file is known to be there.
    const FleetPreflight preflight = FleetEngine::preflight(options.file);
    console.preflight(preflight);
    if (!preflight.ok) {
        console.error(preflight.problem_text());
        return CommandLine::exitUsage;
    }
    if (!startServer())
        return CommandLine::exitUsage;
    QString error;
    if (!transport.open(&error)) {
        console.error(QStringLiteral("cannot open a UDP socket: ") + error);
        return CommandLine::exitUsage;
    }
    console.serving(options.port, transport.localPort(), options.folder);
    if (transport.receiveBuffer().far_less())
        console.notice(transport.receiveBuffer().warning());
    QTimer::singleShot(0, this, &UpgradeSession::discover);
    return loop.exec();
}

bool UpgradeSession::startServer()
{
    if (!settingsFolder.isValid()) {
        console.error(QStringLiteral("cannot create a temporary folder for the server's settings: ")
                + settingsFolder.errorString());
        return false;
    }
    serverSettings.reset(new QSettings(
            settingsFolder.filePath(QStringLiteral("server.ini")), QSettings::IniFormat));
    serverSettings->beginGroup(QStringLiteral("UPDATE"));
    serverSettings->setValue(QStringLiteral("QZPORT"), options.port);
    const int connections = qMax(quenmar::HttpConnectionHandlerPool::defaultMaxThreads,
            2 * options.parallel + spareConnections);
    serverSettings->setValue(QStringLiteral("maxThreads"), connections);
    serverSettings->setValue(QStringLiteral("maxConnectionsPerAddress"), connections);
    handler.reset(new MyRequestHandler);
    listener.reset(new quenmar::HttpListener(serverSettings.get(), handler.get()));
    if (listener->isListening())
        return true;
    console.error(QStringLiteral("cannot listen on TCP port %1: %2; %3")
                          .arg(options.port)
                          .arg(listener->errorString(),
                                  PortRefusal::advice(listener->serverError(),
                                          DeviceMessages::http_server_port)));
    return false;
}

void UpgradeSession::stop(const QString &signalName)
{
    // After the summary there is nothing left to stop in good order.
    if (ending) {
        drainTimer.stop();
        loop.exit(exitStatus);
        return;
    }
    if (stopping)
        return;
    stopping = true;
    console.stopping(signalName);
    collectTimer.stop();
    if (engine.is_running()) {
        engine.stop();
        return;
    }
    // Stopped while looking for the devices: none of those found was started.
    FleetEngine::Summary summary;
    summary.devices = chooseTargets();
    summary.not_started = summary.devices.size();
    summary.stopped = true;
    console.summary(summary, missing, CommandLine::exitFailure);
    end(CommandLine::exitFailure);
}

void UpgradeSession::discover()
{
    if (stopping)
        return;
    if (options.all || !options.serialNumbers.isEmpty()) {
        if (engine.search() == 0)
            console.notice(QStringLiteral("no IPv4 network with a broadcast address to search"));
    }
    collect();
    collectTimer.start();
}

void UpgradeSession::collect()
{
    QList<QHostAddress> silent;
    for (const Ipv4AddressList::Entry &entry : options.addresses) {
        if (engine.find_device(entry.address) < 0 && engine.find_claimant(entry.address) < 0)
            silent.append(entry.address);
    }
    const bool searching = options.all || !options.serialNumbers.isEmpty();
    const bool over = collectTicks * collectTickMs >= collectMs;
    if (over || (!searching && silent.isEmpty() && collectTicks > 0)) {
        collectTimer.stop();
        startRun();
        return;
    }
    ++collectTicks;
    engine.probe(silent);
}

QVector<int> UpgradeSession::chooseTargets()
{
    QVector<int> targets;
    const auto take = [&targets](int index) {
        if (index >= 0 && !targets.contains(index))
            targets.append(index);
    };
    // The named hosts first: a claim from elsewhere never displaces them.
    QVector<int> named;
    for (const Ipv4AddressList::Entry &entry : options.addresses)
        named.append(namedDevice(entry.address));
    if (options.all) {
        for (int index = 0; index < engine.device_count(); ++index)
            take(unclaimed(index, named));
    }
    for (const QString &serialNumber : options.serialNumbers) {
        int found = -1;
        for (int index = 0; index < engine.device_count() && found < 0; ++index) {
            if (engine.device(index).serial_number == serialNumber)
                found = index;
        }
        if (found < 0)
            missing.append({ serialNumber, QString(), {} });
        take(unclaimed(found, named));
    }
    int silentInRanges = 0;
    for (int at = 0; at < options.addresses.size(); ++at) {
        const Ipv4AddressList::Entry &entry = options.addresses.at(at);
        if (named.at(at) >= 0) {
            take(unclaimed(named.at(at), named));
            continue;
        }
        if (entry.from_range)
            ++silentInRanges;
        else
            missing.append({ QString(), entry.address.toString(), {} });
    }
    for (const FleetConsole::Missing &target : qAsConst(missing))
        console.missing(target);
    console.silentRangeAddresses(silentInRanges);
    return targets;
}

// The device at address, named by the user: when its reply came after another
// address had claimed its serial number, it takes the device over.
int UpgradeSession::namedDevice(const QHostAddress &address)
{
    const int known = engine.find_device(address);
    if (known >= 0)
        return known;
    const int claimant = engine.find_claimant(address);
    if (claimant >= 0)
        engine.take_claim(claimant, address);
    return claimant;
}

// index when no other address claims its serial number, or when only hosts
// not named claim it (reported, and ignored); -1 with a conflict recorded
// when it was found by serial number only or two named hosts share it.
int UpgradeSession::unclaimed(int index, const QVector<int> &named)
{
    if (index < 0)
        return index;
    const QList<QHostAddress> claims = engine.claims(index);
    if (claims.isEmpty())
        return index;
    const FleetDevice &device = engine.device(index);
    const auto isNamed = [this](const QHostAddress &address) {
        for (const Ipv4AddressList::Entry &entry : options.addresses) {
            if (entry.address == address)
                return true;
        }
        return false;
    };
    bool namedClaim = false;
    for (const QHostAddress &claim : claims)
        namedClaim = namedClaim || isNamed(claim);
    if (named.contains(index) && !namedClaim) {
        if (!reportedClaims.contains(index)) {
            reportedClaims.insert(index);
            for (const QHostAddress &claim : claims)
                console.claimIgnored(index, claim);
        }
        return index;
    }
    for (const FleetConsole::Missing &known : qAsConst(missing)) {
        if (known.serialNumber == device.serial_number && !known.conflictingAddresses.isEmpty())
            return -1;
    }
    QStringList addresses{ device.address.toString() };
    for (const QHostAddress &claim : claims)
        addresses.append(claim.toString());
    missing.append({ device.serial_number, QString(), addresses });
    return -1;
}

void UpgradeSession::startRun()
{
    console.discovered(engine.device_count(), transport.dropped());
    const QVector<int> targets = chooseTargets();
    if (targets.isEmpty()) {
        console.error(QStringLiteral("no device to upgrade"));
        FleetEngine::Summary nothing;
        console.summary(nothing, missing, CommandLine::exitFailure);
        end(CommandLine::exitFailure);
        return;
    }
    QString error;
    if (!engine.start(plannedRun(options), targets, &error)) {
        console.error(error);
        end(CommandLine::exitUsage);
    }
}

void UpgradeSession::finish(const FleetEngine::Summary &summary)
{
    runDevices = summary.devices;
    const bool reported = record(summary);
    // A file that changed during the run leaves unknown which one each device got.
    const int code = summary.failed == 0 && summary.not_started == 0 && missing.isEmpty()
                    && !summary.file_changed() && reported
            ? CommandLine::exitSuccess
            : CommandLine::exitFailure;
    console.summary(summary, missing, code);
    end(code);
}

bool UpgradeSession::record(const FleetEngine::Summary &summary)
{
    QString historyError;
    const FleetRunRecord run = recorder.finish(summary, &historyError);
    if (!historyError.isEmpty())
        console.notice(QStringLiteral("warning: the run is not in the history: ") + historyError);
    if (options.report.isEmpty())
        return true;
    QString reportError;
    if (!FleetReport::write(options.report, run, &reportError)) {
        console.error(reportError);
        return false;
    }
    console.notice(
            QStringLiteral("report %1: %2 devices").arg(options.report).arg(run.devices.size()));
    return true;
}

void UpgradeSession::end(int exitCode)
{
    ending = true;
    // Closing the server cuts the connections still sending: they are waited for.
    exitStatus = exitCode;
    draining.start();
    drainTimer.start();
    drain();
}

void UpgradeSession::drain()
{
    const quenmar::HttpConnectionHandlerPool *pool =
            listener ? listener->connectionHandlerPool() : nullptr;
    const bool busy = pool && pool->idleHandlerCount() < pool->handlerCount();
    if (busy && !draining.hasExpired(drainGraceMs))
        return;
    if (busy && !draining.hasExpired(drainLimitMs)) {
        const QString waitedFor = downloads.runDeviceDownloading(engine, runDevices);
        if (!waitedFor.isEmpty()) {
            if (!waitNoticed)
                console.notice(QStringLiteral("waiting for the download of %1 under way; "
                                              "Ctrl-C quits at once")
                                       .arg(waitedFor));
            waitNoticed = true;
            return;
        }
    }
    if (busy)
        console.notice(
                QStringLiteral("the server closes; requests of other hosts under way are cut"));
    drainTimer.stop();
    loop.exit(exitStatus);
}
