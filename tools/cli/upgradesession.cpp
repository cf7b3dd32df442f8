#include "upgradesession.h"

#include "devicemessages.h"
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
// Requests outside the run (other files, other peers) may still be served
// when the run ends; before the server closes, its connections are given
// this long (in ms) to finish, polled this often. A peer that takes no data
// is cut by the server itself after 30 s.
constexpr int drainLimitMs = 60000;
constexpr int drainPollMs = 20;

} // namespace

UpgradeSession::UpgradeSession(const UpgradeOptions &options)
    : options(options), engine(transport), console(engine, plannedRun(options), options.json)
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
    if (stopping || ending)
        return;
    stopping = true;
    console.stopping(signalName);
    collectTimer.stop();
    if (engine.is_running()) {
        engine.stop();
        return;
    }
    // Stopped while looking for the devices: those found stay "listed".
    FleetEngine::Summary summary;
    summary.devices = chooseTargets();
    summary.failed = summary.not_started = summary.devices.size();
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
        if (engine.find_device(entry.address) < 0)
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
    if (options.all) {
        for (int index = 0; index < engine.device_count(); ++index)
            take(index);
    }
    for (const QString &serialNumber : options.serialNumbers) {
        int found = -1;
        for (int index = 0; index < engine.device_count() && found < 0; ++index) {
            if (engine.device(index).serial_number == serialNumber)
                found = index;
        }
        if (found < 0)
            missing.append({ serialNumber, QString() });
        take(found);
    }
    int silentInRanges = 0;
    for (const Ipv4AddressList::Entry &entry : options.addresses) {
        const int found = engine.find_device(entry.address);
        if (found < 0 && entry.from_range)
            ++silentInRanges;
        else if (found < 0)
            missing.append({ QString(), entry.address.toString() });
        take(found);
    }
    for (const FleetConsole::Missing &target : qAsConst(missing))
        console.missing(target);
    console.silentRangeAddresses(silentInRanges);
    return targets;
}

void UpgradeSession::startRun()
{
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
    const int code = summary.failed == 0 && missing.isEmpty() ? CommandLine::exitSuccess
                                                              : CommandLine::exitFailure;
    console.summary(summary, missing, code);
    end(code);
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
    if (pool && pool->idleHandlerCount() < pool->handlerCount()
            && !draining.hasExpired(drainLimitMs))
        return;
    drainTimer.stop();
    loop.exit(exitStatus);
}
